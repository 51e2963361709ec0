// A GStreamer device provider of test cameras, so the device monitor behind the real backend
// lists, builds and hot-plugs cameras in the tests without hardware.
#include "VideoTestSupport.h"

#include <map>

namespace {
struct TestCamDevice {
    GstDevice parent;
};
struct TestCamDeviceClass {
    GstDeviceClass parent_class;
};
struct TestCamProvider {
    GstDeviceProvider parent;
};
struct TestCamProviderClass {
    GstDeviceProviderClass parent_class;
};

GType test_cam_device_get_type();
GType test_cam_provider_get_type();

GstElement* CreateElement(GstDevice*, const gchar* name) {
    GstElement* e = gst_element_factory_make("videotestsrc", name);
    if (e) g_object_set(e, "is-live", TRUE, "pattern", 18 /* ball */, nullptr);
    return e;
}

void test_cam_device_class_init(TestCamDeviceClass* klass) {
    GST_DEVICE_CLASS(klass)->create_element = CreateElement;
}

std::mutex gLock;
GstDeviceProvider* gProvider = nullptr; // while started
std::map<std::string, GstDevice*> gDevices;

GstDevice* MakeDevice(const std::string& name, const std::string& path, const std::string& caps,
                      const TestCameraProps& extra) {
    GstCaps* c = gst_caps_from_string(caps.c_str());
    GstStructure* props =
        gst_structure_new("props", "device.path", G_TYPE_STRING, path.c_str(), nullptr);
    for (const auto& [key, value] : extra)
        gst_structure_set(props, key.c_str(), G_TYPE_STRING, value.c_str(), nullptr);
    auto* d =
        GST_DEVICE(g_object_new(test_cam_device_get_type(), "display-name", name.c_str(), "caps", c,
                                "device-class", "Video/Source", "properties", props, nullptr));
    gst_caps_unref(c);
    gst_structure_free(props);
    return d;
}

gboolean ProviderStart(GstDeviceProvider* provider) {
    std::lock_guard g(gLock);
    gProvider = provider;
    for (auto& [name, d] : gDevices)
        gst_device_provider_device_add(provider, d);
    return TRUE;
}

void ProviderStop(GstDeviceProvider*) {
    std::lock_guard g(gLock);
    gProvider = nullptr;
}

GList* ProviderProbe(GstDeviceProvider*) {
    std::lock_guard g(gLock);
    GList* list = nullptr;
    for (auto& [name, d] : gDevices)
        list = g_list_append(list, gst_object_ref(d));
    return list;
}

void test_cam_provider_class_init(TestCamProviderClass* klass) {
    GstDeviceProviderClass* dp = GST_DEVICE_PROVIDER_CLASS(klass);
    dp->probe = ProviderProbe;
    dp->start = ProviderStart;
    dp->stop = ProviderStop;
    gst_device_provider_class_set_static_metadata(dp, "Test cameras", "Video/Source",
                                                  "Live test pictures as cameras", "avsetup");
}

GType test_cam_device_get_type() {
    static const GType type = g_type_register_static_simple(
        GST_TYPE_DEVICE, "AvTestCamDevice", sizeof(TestCamDeviceClass),
        reinterpret_cast<GClassInitFunc>(+[](gpointer k, gpointer) {
            test_cam_device_class_init(static_cast<TestCamDeviceClass*>(k));
        }),
        sizeof(TestCamDevice), nullptr, GTypeFlags(0));
    return type;
}

GType test_cam_provider_get_type() {
    static const GType type = g_type_register_static_simple(
        GST_TYPE_DEVICE_PROVIDER, "AvTestCamProvider", sizeof(TestCamProviderClass),
        reinterpret_cast<GClassInitFunc>(+[](gpointer k, gpointer) {
            test_cam_provider_class_init(static_cast<TestCamProviderClass*>(k));
        }),
        sizeof(TestCamProvider), nullptr, GTypeFlags(0));
    return type;
}

gboolean PluginInit(GstPlugin* plugin) {
    return gst_device_provider_register(plugin, "avsetuptestcams", GST_RANK_PRIMARY + 10,
                                        test_cam_provider_get_type());
}
} // namespace

void RegisterTestCameraProvider() {
    static std::once_flag once;
    std::call_once(once, [] {
        EnsureGStreamer();
        gst_plugin_register_static(GST_VERSION_MAJOR, GST_VERSION_MINOR, "avsetuptestcams",
                                   "Test cameras", PluginInit, "1.0", "LGPL", "avsetup", "avsetup",
                                   "https://example.invalid");
    });
}

void AddTestCamera(const std::string& name, const std::string& path, const std::string& caps,
                   const TestCameraProps& props) {
    std::lock_guard g(gLock);
    GstDevice* d = MakeDevice(name, path, caps, props);
    gDevices[name] = GST_DEVICE(gst_object_ref_sink(d));
    if (gProvider) gst_device_provider_device_add(gProvider, d);
}

void RemoveTestCamera(const std::string& name) {
    std::lock_guard g(gLock);
    auto it = gDevices.find(name);
    if (it == gDevices.end()) return;
    if (gProvider) gst_device_provider_device_remove(gProvider, it->second);
    gst_object_unref(it->second);
    gDevices.erase(it);
}
