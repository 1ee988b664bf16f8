#include "sim_fixture.h"

#include <tcl.h>

void SimTest::SetUp()
{
    sim::replace_model(acfile::Model());
    sim::set_message_sink([this](const std::string &text) { messages.push_back(text); });
    sim::set_debug_sink([this](const std::string &text) { debug += text; });
    sim::pin_tick(0);
    sim::observations() = sim::Observations();
}

void SimTest::TearDown()
{
    sim::set_message_sink(nullptr);
    sim::set_debug_sink(nullptr);
    sim::replace_model(acfile::Model());
    EXPECT_EQ(sim::live_list_nodes(), 0u) << "a list node outlived the test's model";
}

acfile::Object *SimTest::add_object(const char *name, const std::vector<Point> &points,
                                 acfile::Object *parent)
{
    acfile::Object *object = sim::model().add_object(parent, name);
    for (const Point &p : points)
        object->vertices.push_back({p[0], p[1], p[2], object});
    return object;
}

void SimTest::add_surface(acfile::Object *object, const std::vector<uint32_t> &indices)
{
    object->surfaces.push_back({object, (uint32_t)object->refs.size(), (uint32_t)indices.size()});
    object->refs.insert(object->refs.end(), indices.begin(), indices.end());
}

std::vector<Point> SimTest::positions() const
{
    std::vector<Point> all;
    for (const auto &object : sim::model().objects)
        for (const acfile::Vertex &v : object->vertices)
            all.push_back({v.x, v.y, v.z});
    return all;
}

std::string SimTest::eval(const std::string &script)
{
    Tcl_Interp *in = sim::interp();
    int code = Tcl_EvalEx(in, script.c_str(), (int)script.size(), TCL_EVAL_GLOBAL);
    std::string result = Tcl_GetStringResult(in);
    return code == TCL_OK ? result : "error: " + result;
}

::testing::AssertionResult SameBits(const std::vector<Point> &a, const std::vector<Point> &b)
{
    if (a.size() != b.size())
        return ::testing::AssertionFailure() << a.size() << " positions against " << b.size();
    for (size_t i = 0; i < a.size(); i++)
        for (int k = 0; k < 3; k++)
            if (bits(a[i][k]) != bits(b[i][k]))
                return ::testing::AssertionFailure()
                       << "vertex " << i << " coordinate " << "xyz"[k] << ": " << a[i][k] << " (0x"
                       << std::hex << bits(a[i][k]) << ") against " << std::dec << b[i][k] << " (0x"
                       << std::hex << bits(b[i][k]) << ")";
    return ::testing::AssertionSuccess();
}
