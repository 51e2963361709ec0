// A camera's V4L2 controls as its property page sees them, against a table of controls behind the
// ioctl seam (CI has no camera): what is listed and how, what reaches the device when written, and
// the same list from drivers that lack the extended query or the next-control walk.
#include "FakeV4l2Device.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {
std::vector<std::string> Names(const std::vector<AvDeviceControl>& list) {
    std::vector<std::string> out;
    for (const auto& c : list)
        out.push_back(c.name);
    return out;
}

const AvDeviceControl& Named(const std::vector<AvDeviceControl>& list, const std::string& name) {
    auto it = std::find_if(list.begin(), list.end(), [&](const auto& c) { return c.name == name; });
    if (it == list.end()) throw std::runtime_error("no control " + name);
    return *it;
}

std::vector<AvDeviceControl> ListOf(std::unique_ptr<FakeV4l2Device> device) {
    auto controls = CreateV4l2Controls(std::move(device));
    std::vector<AvDeviceControl> list;
    if (controls) controls->GetControls(&list);
    return list;
}

// Everything the page shows of a control, for comparing two translations.
std::string Describe(const std::vector<AvDeviceControl>& list) {
    std::string out;
    for (const auto& c : list) {
        out += c.name + " " + std::to_string(c.id) + " " + std::to_string(c.type) + " " +
               std::to_string(c.minimum) + ".." + std::to_string(c.maximum) + "/" +
               std::to_string(c.step) + " d" + std::to_string(c.defaultValue) +
               (c.readOnly ? " ro" : "") + (c.inactive ? " inactive" : "");
        for (const auto& [v, n] : c.menu)
            out += " [" + std::to_string(v) + "=" + n + "]";
        out += "\n";
    }
    return out;
}
} // namespace

TEST(V4l2ControlsTest, AWebcamsControlsAreListedAndWrittenAsTheDriverExpects) {
    auto device = FakeV4l2Device::Webcam();
    FakeV4l2Device* fake = device.get();
    ComPtr<IAvDeviceControls> controls = CreateV4l2Controls(std::move(device));
    ASSERT_TRUE(controls);
    std::vector<AvDeviceControl> list;
    ASSERT_EQ(controls->GetControls(&list), S_OK);
    // Class headers, the disabled hue, the relative pan (no value to show) and the 64-bit pixel
    // rate are left out.
    EXPECT_EQ(Names(list),
              (std::vector<std::string>{
                  "Brightness", "Contrast", "White Balance, Automatic", "Power Line Frequency",
                  "White Balance Temperature", "Min Number of Capture Buffers", "Auto Exposure",
                  "Exposure Time, Absolute", "Pan, Reset", "Link Frequency", "Private Gain"}));
    const auto& brightness = Named(list, "Brightness");
    EXPECT_EQ(brightness.type, avcInteger);
    EXPECT_EQ(brightness.minimum, -64);
    EXPECT_EQ(brightness.maximum, 64);
    EXPECT_EQ(Named(list, "White Balance Temperature").step, 10);
    EXPECT_EQ(Named(list, "White Balance Temperature").defaultValue, 4600);
    EXPECT_TRUE(Named(list, "White Balance Temperature").inactive) << "automatic is on";
    EXPECT_EQ(Named(list, "White Balance, Automatic").type, avcBoolean);
    EXPECT_TRUE(Named(list, "Min Number of Capture Buffers").readOnly);
    EXPECT_EQ(Named(list, "Pan, Reset").type, avcButton);
    const auto& ae = Named(list, "Auto Exposure");
    EXPECT_EQ(ae.type, avcMenu);
    EXPECT_EQ(ae.menu, (std::vector<std::pair<LONG, std::string>>{{1, "Manual Mode"},
                                                                  {3, "Aperture Priority Mode"}}));
    EXPECT_EQ(Named(list, "Link Frequency").menu,
              (std::vector<std::pair<LONG, std::string>>{{0, "100000000"}, {1, "200000000"}}));

    LONG v = 0;
    EXPECT_EQ(controls->GetValue(V4L2_CID_BRIGHTNESS, &v), S_OK);
    EXPECT_EQ(v, 10);
    EXPECT_EQ(controls->GetValue(V4L2_CID_POWER_LINE_FREQUENCY, &v), S_OK);
    EXPECT_EQ(v, 2);

    // Ranges clamp, steps round to the nearest, switches take 0 or 1, buttons fire.
    EXPECT_EQ(controls->SetValue(V4L2_CID_BRIGHTNESS, 1000), S_OK);
    EXPECT_EQ(controls->SetValue(V4L2_CID_WHITE_BALANCE_TEMPERATURE, 4004), S_OK);
    EXPECT_EQ(controls->SetValue(V4L2_CID_WHITE_BALANCE_TEMPERATURE, 4006), S_OK);
    EXPECT_EQ(controls->SetValue(V4L2_CID_AUTO_WHITE_BALANCE, 5), S_OK);
    EXPECT_EQ(controls->SetValue(V4L2_CID_PAN_RESET, 0), S_OK);
    // A menu takes only what it lists; read-only and unknown controls are refused unsent.
    EXPECT_EQ(controls->SetValue(V4L2_CID_EXPOSURE_AUTO, 2), E_INVALIDARG);
    EXPECT_EQ(controls->SetValue(V4L2_CID_MIN_BUFFERS_FOR_CAPTURE, 4), E_ACCESSDENIED);
    EXPECT_EQ(controls->SetValue(0x00980999, 1), E_INVALIDARG);
    EXPECT_EQ(fake->writes, (std::vector<std::pair<__u32, __s32>>{
                                {V4L2_CID_BRIGHTNESS, 64},
                                {V4L2_CID_WHITE_BALANCE_TEMPERATURE, 4000},
                                {V4L2_CID_WHITE_BALANCE_TEMPERATURE, 4010},
                                {V4L2_CID_AUTO_WHITE_BALANCE, 1},
                                {V4L2_CID_PAN_RESET, 1},
                            }));

    // Manual exposure makes its time active: the next listing says so.
    EXPECT_EQ(controls->SetValue(V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_MANUAL), S_OK);
    controls->GetControls(&list);
    EXPECT_FALSE(Named(list, "Exposure Time, Absolute").inactive);
    EXPECT_TRUE(Named(list, "White Balance Temperature").inactive);

    // Unplugged: the calls fail with the platform's not-connected result.
    fake->gone = true;
    EXPECT_EQ(controls->GetValue(V4L2_CID_BRIGHTNESS, &v),
              HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED));
    EXPECT_EQ(controls->SetValue(V4L2_CID_BRIGHTNESS, 0),
              HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED));
}

TEST(V4l2ControlsTest, OlderDriversGiveTheSameListAndADeviceWithoutControlsGivesNone) {
    const auto modern = ListOf(FakeV4l2Device::Webcam());
    ASSERT_FALSE(modern.empty());

    auto old = FakeV4l2Device::Webcam();
    old->extended = false;
    EXPECT_EQ(Describe(ListOf(std::move(old))), Describe(modern));

    // Without the next-control walk only the standard user ids and the private ones are found.
    auto oldest = FakeV4l2Device::Webcam();
    oldest->extended = false;
    oldest->nextCtrl = false;
    EXPECT_EQ(Names(ListOf(std::move(oldest))),
              (std::vector<std::string>{"Brightness", "Contrast", "White Balance, Automatic",
                                        "Power Line Frequency", "White Balance Temperature",
                                        "Min Number of Capture Buffers", "Private Gain"}));

    // Nothing a page could show: no controls object at all.
    auto bare = std::make_unique<FakeV4l2Device>();
    bare->Add(V4L2_CID_USER_CLASS, V4L2_CTRL_TYPE_CTRL_CLASS, "User Controls", 0, 0, 0, 0,
              V4L2_CTRL_FLAG_READ_ONLY | V4L2_CTRL_FLAG_WRITE_ONLY);
    bare->Add(V4L2_CID_HUE, V4L2_CTRL_TYPE_INTEGER, "Hue", -40, 40, 1, 0, V4L2_CTRL_FLAG_DISABLED);
    EXPECT_FALSE(CreateV4l2Controls(std::move(bare)));
    EXPECT_FALSE(CreateV4l2Controls(std::make_unique<FakeV4l2Device>()));
    // A node that is no video device, and one that does not exist.
    EXPECT_FALSE(OpenV4l2Device("/dev/null"));
    EXPECT_FALSE(OpenV4l2Device("/nonexistent/video0"));
    EXPECT_FALSE(OpenV4l2Device(""));
}
