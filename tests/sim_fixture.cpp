#include "sim_fixture.h"

#include <tcl.h>

#include <cstdlib>

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

PreviewAnswer SimTest::preview_answer()
{
    PreviewAnswer answer;
    answer.status = eval("dict get $::qorvel_preview_answer status");
    if (answer.status != "ok") {
        answer.message = eval("dict get $::qorvel_preview_answer message");
        return answer;
    }
    answer.count = std::stoul(eval("dict get $::qorvel_preview_answer count"));
    std::string extent = eval("dict get $::qorvel_preview_answer extent");
    answer.low = std::strtof(extent.c_str(), nullptr);
    answer.high = std::strtof(extent.c_str() + extent.find(' '), nullptr);
    std::string points = eval("dict get $::qorvel_preview_answer points");
    const char *p = points.c_str();
    char *end;
    std::vector<float> numbers;
    for (float f = std::strtof(p, &end); end != p; f = std::strtof(p, &end)) {
        numbers.push_back(f);
        p = end;
    }
    for (size_t i = 0; i + 5 <= numbers.size(); i += 5)
        answer.points.push_back({numbers[i], numbers[i + 1], numbers[i + 2], numbers[i + 3],
                                 numbers[i + 4]});
    EXPECT_EQ(numbers.size() % 5, 0u) << points;
    return answer;
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
