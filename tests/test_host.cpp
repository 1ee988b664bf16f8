// The substitute host's own promises, which the plug-in's tests rely on: the
// refreshes in order, list nodes that go back when their list is freed, the
// cost of a walk over objects, messages of any length, and lists appended to
// after others were freed.
#include "sim_fixture.h"
#include "wave/wave.h"

#include <limits>

namespace {

class Host : public SimTest {
protected:
    void run(const char *command)
    {
        std::vector<std::string> words = {"qorvel_go"};
        for (const char *p = command; *p;) {
            const char *e = std::strchr(p, ' ');
            words.push_back(e ? std::string(p, e) : std::string(p));
            p = e ? e + 1 : p + std::strlen(p);
        }
        std::vector<char *> argv = argv_of(words);
        apply_wave_command((int)argv.size(), argv.data());
    }
};

std::vector<const void *> items(HostList *list)
{
    std::vector<const void *> found;
    for (HostList *n = list; n; n = n->next)
        found.push_back(n->data);
    return found;
}

TEST_F(Host, RefreshesComeInOrderAfterTheCommandAndAfterUndo)
{
    add_object("smooth", {{0, 0, 0}, {1, 0, 0}})->subdivided = true;
    sim::select_all(sim::model(), sim::selection(), SELECT_OBJECTS);
    run("x y n 1 1 0 0 0 0 0 0 0");
    EXPECT_EQ(sim::observations().refreshes,
              (std::vector<std::string>{"remake_subdivisions", "find_bounding_box", "redraw_all",
                                        "display_status"}));
    sim::observations() = sim::Observations();
    ASSERT_TRUE(sim::undo());
    EXPECT_EQ(sim::observations().refreshes,
              (std::vector<std::string>{"find_bounding_box", "redraw_all", "display_status"}));
    EXPECT_EQ(sim::observations().status, "1 object, 2 vertices; 1 object selected");
}

// The box as one walk keeping one bound per side would leave it: every
// coordinate but NaN counts, infinities too, and of zeros of both signs the
// first one met is kept. Objects of odd and even sizes and an empty one.
TEST_F(Host, TheBoundingBoxKeepsTheFirstOfTiedZerosAndPassesOverNaN)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    find_bounding_box();
    EXPECT_TRUE(sim::observations().box.empty);

    // the first zero at an odd place on x, at an even one on y and z
    add_object("zeros", {{5, 0.0f, -0.0f}, {-0.0f, -0.0f, 0.0f}, {0.0f, 3, -5}, {7, 4, -7}});
    add_object("none", {});
    acfile::Object *odd = add_object("odd", {{nan, 2, nan}, {6, nan, -1}, {1, 9, -9}});
    // what lies past the last vertex is no vertex
    odd->vertices.push_back({100, 100, 100, odd});
    odd->vertices.pop_back();
    find_bounding_box();
    const sim::Box &box = sim::observations().box;
    EXPECT_FALSE(box.empty);
    EXPECT_EQ(bits(box.min[0]), bits(-0.0f)) << "the -0 came first";
    EXPECT_EQ(bits(box.min[1]), bits(0.0f)) << "the +0 came first";
    EXPECT_EQ(bits(box.max[2]), bits(-0.0f)) << "the -0 came first";
    EXPECT_EQ(box.max[0], 7.0f);
    EXPECT_EQ(box.max[1], 9.0f) << "the last vertex of an odd count";
    EXPECT_EQ(box.min[2], -9.0f);

    add_object("far", {{1, -inf, 0}, {inf, 1, 0}});
    find_bounding_box();
    EXPECT_EQ(sim::observations().box.min[1], -inf);
    EXPECT_EQ(sim::observations().box.max[0], inf);
}

TEST_F(Host, OfZerosOfBothSignsAtEvenPlacesTheBoundingBoxKeepsTheFirst)
{
    add_object("ties", {{0.0f, 1, -0.0f}, {5, 2, -5}, {-0.0f, 3, 0.0f}});
    find_bounding_box();
    EXPECT_EQ(bits(sim::observations().box.min[0]), bits(0.0f));
    EXPECT_EQ(bits(sim::observations().box.max[2]), bits(-0.0f));
}

TEST_F(Host, NoListNodeOutlivesACommandAnUndoOrAModelReplacement)
{
    acfile::Object *a = add_object("a", {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}});
    add_surface(a, {0, 1, 2});
    add_object("b", {{2, 0, 0}}, a);
    add_object("empty", {});
    // the selection lists are freed; only the undo step's list stays
    const struct {
        int mode;
        size_t gathered;
    } modes[] = {{SELECT_OBJECTS, 5}, {SELECT_SURFACES, 3}, {SELECT_VERTICES, 5}};
    for (const auto &m : modes) {
        sim::select_all(sim::model(), sim::selection(), m.mode);
        run("x y n 1 1 0 0 0 0 0 0 0");
        EXPECT_EQ(sim::live_list_nodes(), m.gathered) << "mode " << m.mode;
        ASSERT_TRUE(sim::undo());
        EXPECT_EQ(sim::live_list_nodes(), 0u) << "undo releases its list, mode " << m.mode;
    }
    // nothing gathered: the selection's list is freed all the same
    sim::selection().objects = {sim::model().world->children[1]};
    sim::selection().mode = SELECT_OBJECTS;
    run("x y n 1 1 0 0 0 0 0 0 0");
    EXPECT_EQ(messages, std::vector<std::string>{"Corrugo : no vertices selected"});
    EXPECT_EQ(sim::live_list_nodes(), 0u);
    sim::select_all(sim::model(), sim::selection(), SELECT_SURFACES);
    sim::selection().surfaces.clear();
    run("x y n 1 1 0 0 0 0 0 0 0");
    EXPECT_EQ(sim::live_list_nodes(), 0u);
    // undo steps go with the model they belong to
    sim::select_all(sim::model(), sim::selection(), SELECT_OBJECTS);
    run("x y n 1 1 0 0 0 0 0 0 0");
    run("x y n 2 1 0 0 0 0 0 0 0");
    EXPECT_EQ(sim::live_list_nodes(), 10u);
    sim::replace_model(acfile::Model());
    EXPECT_EQ(sim::live_list_nodes(), 0u);
    EXPECT_EQ(sim::undo_depth(), 0u);
}

TEST_F(Host, GatheringAsksForEachObjectsListsOnceHoweverWideOrDeep)
{
    // a wide group of objects without children, a deep chain, and a mix
    acfile::Object *wide = add_object("wide", {});
    for (int i = 0; i < 1000; i++)
        add_object("leaf", {{(float)i, 0, 0}}, wide);
    acfile::Object *deep = add_object("deep", {{-1, 0, 0}});
    acfile::Object *o = deep;
    for (int i = 0; i < 200; i++)
        o = add_object("link", {{(float)(-2 - i), 0, 0}}, o);
    acfile::Object *mixed = add_object("mixed", {});
    for (int i = 0; i < 50; i++)
        add_object("leaf", {{0, (float)i, 0}}, add_object("branch", {}, mixed));
    sim::selection().mode = SELECT_OBJECTS;
    sim::selection().objects = {wide, deep, mixed};
    HostList *gathered = gather_wave_vertices();
    const size_t objects = 1001 + 201 + 101;
    EXPECT_EQ(sim::observations().vertex_list_requests, objects);
    EXPECT_EQ(sim::observations().children_list_requests, objects);
    std::vector<const void *> found = items(gathered);
    ASSERT_EQ(found.size(), 1000u + 201u + 50u);
    EXPECT_EQ(found[0], &wide->children[0]->vertices[0]);
    EXPECT_EQ(found[999], &wide->children[999]->vertices[0]);
    EXPECT_EQ(found[1000], &deep->vertices[0]);
    EXPECT_EQ(found[1200], &o->vertices[0]);
    EXPECT_EQ(found[1250], &mixed->children[49]->children[0]->vertices[0]);
}

TEST_F(Host, MessagesOfEveryLengthComeThroughWhole)
{
    for (size_t n : {1u, 510u, 511u, 512u, 513u, 1024u, 5000u}) {
        std::string text(n, 'm');
        text[n - 1] = 'e';
        messages.clear();
        debug.clear();
        windows_message_dialog("%s", text.c_str());
        debugf("%s", text.c_str());
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0], text) << n << " characters";
        EXPECT_EQ(debug, text) << n << " characters";
    }
    messages.clear();
    windows_message_dialog("%s%c%s", "up to", 0, "here");
    EXPECT_EQ(messages, std::vector<std::string>{"up to"}) << "a C text ends at its NUL";
}

// A list freed and another built at the same place, from the same nodes:
// appending to it must see what it holds now, not what the freed one held.
TEST_F(Host, AppendingToANewListAtAFreedListsPlaceSeesTheNewItems)
{
    acfile::Object *a = add_object("a", {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}});
    acfile::Object *b = add_object("b", {{3, 0, 0}, {4, 0, 0}, {5, 0, 0}});
    HostList *list = nullptr;
    list_append_list_unique(&list, ac_object_get_vertexlist((HostObject *)a));
    list_free(&list);
    sim::selection().mode = SELECT_VERTICES;
    sim::selection().vertices = {&b->vertices[0], &b->vertices[1], &b->vertices[2]};
    list = ac_selection_get_vertices(); // the freed list's nodes, in their order
    list_append_list_unique(&list, ac_object_get_vertexlist((HostObject *)a));
    EXPECT_EQ(items(list), (std::vector<const void *>{&b->vertices[0], &b->vertices[1],
                                                      &b->vertices[2], &a->vertices[0],
                                                      &a->vertices[1], &a->vertices[2]}));
    list_free(&list);

    // The same when the list was freed through another variable holding its
    // head: the new list of one item takes the freed node.
    sim::selection().vertices = {&a->vertices[0]};
    HostList *selected = ac_selection_get_vertices();
    list = nullptr;
    list_append_list_unique(&list, selected);
    HostList *copy = list;
    list_free(&copy);
    sim::selection().vertices = {&b->vertices[0]};
    list = ac_selection_get_vertices();
    list_append_list_unique(&list, ac_object_get_vertexlist((HostObject *)b));
    EXPECT_EQ(items(list), (std::vector<const void *>{&b->vertices[0], &b->vertices[1],
                                                      &b->vertices[2]}));
    list_free(&list);
    list_free(&selected);

    // And when another list was put in the variable without freeing the first.
    HostList *first = nullptr;
    list_append_list_unique(&first, ac_object_get_vertexlist((HostObject *)a));
    HostList *kept = first;
    sim::selection().vertices = {&b->vertices[2]};
    first = ac_selection_get_vertices();
    list_append_list_unique(&first, ac_object_get_vertexlist((HostObject *)b));
    EXPECT_EQ(items(first), (std::vector<const void *>{&b->vertices[2], &b->vertices[0],
                                                       &b->vertices[1]}));
    EXPECT_EQ(items(kept), (std::vector<const void *>{&a->vertices[0], &a->vertices[1],
                                                      &a->vertices[2]}));
    list_free(&first);
    list_free(&kept);
}

// The quick way of appending a whole vertex list is only for the list as it
// was handed out: one the plug-in has cut short or reordered since is
// appended as it is now.
TEST_F(Host, AHandedOutListChangedSinceIsAppendedAsItIsNow)
{
    acfile::Object *a = add_object("a", {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}});
    const void *v0 = &a->vertices[0], *v1 = &a->vertices[1], *v2 = &a->vertices[2];
    HostList *handed = ac_object_get_vertexlist((HostObject *)a);
    HostList *third = handed->next->next;
    handed->next->next = nullptr; /* cut after two */
    HostList *list = nullptr;
    list_append_list_unique(&list, handed);
    EXPECT_EQ(items(list), (std::vector<const void *>{v0, v1}));
    list_free(&list);
    handed->next->next = third;

    handed = ac_object_get_vertexlist((HostObject *)a);
    handed->data = (void *)v1, handed->next->data = (void *)v2, third->data = (void *)v0;
    list_append_list_unique(&list, handed);
    EXPECT_EQ(items(list), (std::vector<const void *>{v1, v2, v0}));
    list_free(&list);
    handed->data = (void *)v0, handed->next->data = (void *)v1, third->data = (void *)v2;
}

// A module that lacks any one of the four entry points is no plug-in.
TEST_F(Host, AModuleWithoutAllFourEntryPointsIsNoPlugin)
{
    for (const char *path : {PARTIAL_PLUGIN_INIT, PARTIAL_PLUGIN_ABOUT, PARTIAL_PLUGIN_INFO}) {
        sim::Plugin plugin;
        std::string error;
        EXPECT_FALSE(sim::load_plugin(path, plugin, error)) << path;
        EXPECT_EQ(error, std::string(path) + ": not a plug-in: an entry point AC3DPlugin... is missing");
    }
}

} // namespace
