#pragma once
// The cameras behind the capture platform. One backend serves the process, picked once from
// AVSETUP_BACKEND like the sound system: "sim" gives the simulated cameras described in the
// simulated devices' configuration (resources/SimDevices.json, "cameras"), anything else
// GStreamer's device monitor ("Video/Source": V4L2, PipeWire, ...). Tests install one explicitly.
#include "platform/dshow/dshow.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

typedef struct _GstElement GstElement;
typedef struct _GstCaps GstCaps;
typedef struct _GstStructure GstStructure;
class QByteArray;
class QString;

// One format a camera delivers: a media subtype (MEDIASUBTYPE_YUY2, _MJPG, _RGB24, ...), a frame
// size and a frame rate.
struct VideoFormat {
    GUID subtype = GUID_NULL;
    int width = 0, height = 0;
    int fpsNum = 30, fpsDen = 1;
    friend bool operator==(const VideoFormat&, const VideoFormat&) = default;
};

struct VideoDevice {
    std::string name;     // "FriendlyName"
    std::string path;     // "DevicePath": the device's identity while it is plugged in
    bool hasClsid = true; // the property bag names CLSID_Proxy
    std::vector<VideoFormat> formats;
};

// ---- Formats and GStreamer caps (any thread) ---------------------------------------------------
// The GStreamer caps of a format (a new reference).
GstCaps* CapsFromFormat(const VideoFormat& format);
// A fixed caps structure as a format; false when its media or size is not one the platform names.
bool FormatFromStructure(const GstStructure* s, VideoFormat* format);
// Every fixed format in caps, in order (framerate lists and ranges give their highest rate).
std::vector<VideoFormat> FormatsFromCaps(const GstCaps* caps);
// The media type record of a format (VIDEOINFOHEADER, CoTaskMemAlloc'ed format block).
void MediaTypeFromFormat(const VideoFormat& format, AM_MEDIA_TYPE* mt);
// A media type as a format: the subtype always, the size and rate when it carries a
// VIDEOINFOHEADER. False when it names no video subtype the platform knows.
bool FormatFromMediaType(const AM_MEDIA_TYPE& mt, VideoFormat* format, bool* hasSize);
// The caps a (possibly partial) media type allows; nullptr for "anything" (no type, GUID_NULL).
GstCaps* CapsFromMediaType(const AM_MEDIA_TYPE* mt);
// Short text for logs: "YUY2 176x144 30/1".
std::string FormatText(const VideoFormat& format);

// ---- The backend ------------------------------------------------------------------------------
class IVideoBackend {
public:
    virtual ~IVideoBackend() = default;
    // The cameras present now, in the system's order (any thread).
    virtual std::vector<VideoDevice> Devices() = 0;
    // A new source element that delivers the device's picture in the given format (its caps are
    // fixed by the caller). nullptr when the device is no longer present. Main thread.
    virtual GstElement* CreateSource(const std::string& path, const VideoFormat& format) = 0;
    // Called with the device's path when a camera arrives (true) or goes (false), on whatever
    // thread noticed it. RemoveListener waits for a call in progress to end; never call it from
    // inside a listener.
    using Listener = std::function<void(const std::string& path, bool arrived)>;
    int AddListener(Listener listener);
    void RemoveListener(int id);

    std::optional<VideoDevice> Find(const std::string& path);
    // The V4L2 device node whose controls are the camera's own (its property page); empty when
    // the camera has none (a simulated camera, a camera not behind V4L2) or is gone. Main thread.
    virtual std::string ControlNode(const std::string& path);

protected:
    void NotifyDevice(const std::string& path, bool arrived);

private:
    std::mutex FListenerLock;
    std::map<int, Listener> FListeners;
    int FNextListener = 1;
};

// The process's backend (created on first use from AVSETUP_BACKEND). Objects that use a device
// keep the backend alive through the shared pointer.
std::shared_ptr<IVideoBackend> VideoBackend();
std::shared_ptr<IVideoBackend> SetVideoBackend(std::shared_ptr<IVideoBackend> backend);

class ScopedVideoBackend {
public:
    explicit ScopedVideoBackend(std::shared_ptr<IVideoBackend> backend);
    ~ScopedVideoBackend();
    ScopedVideoBackend(const ScopedVideoBackend&) = delete;
    ScopedVideoBackend& operator=(const ScopedVideoBackend&) = delete;

private:
    std::shared_ptr<IVideoBackend> FPrevious;
};

// ---- Simulated cameras -------------------------------------------------------------------------
struct SimCameraConfig {
    std::string name;
    std::string path; // empty: "sim:" + name
    bool clsid = true;
    std::string pattern = "ball"; // videotestsrc pattern: a moving picture by default
    bool busy = false;            // in use by another program: fails to start as such a camera does
    std::vector<VideoFormat> formats;
};

// Parses the "cameras" array of the simulated devices' description. Without the key the default
// cameras are used: "Virtual Camera" (176x144, 320x240, 640x480; YUY2 and MJPG; 30 fps) and
// "HD Camera" (1280x720 YUY2 only). Each entry: "name", optional "path", "clsid" (false: the
// property bag has none), "pattern", "busy" (true: used by another program), and "formats":
// [{"width", "height", "fps", "subtypes":
// ["YUY2", "MJPG", "RGB24", ...]}]. nullopt (and the reason) for a damaged description.
std::optional<std::vector<SimCameraConfig>> ParseSimCameras(const QByteArray& json, QString* error);
std::vector<SimCameraConfig> DefaultSimCameras();

class SimVideoBackend : public IVideoBackend {
public:
    explicit SimVideoBackend(std::vector<SimCameraConfig> cameras);
    std::vector<VideoDevice> Devices() override;
    GstElement* CreateSource(const std::string& path, const VideoFormat& format) override;
    // Hot-plug, any thread: listeners hear of it before these return.
    void AddCamera(const SimCameraConfig& camera);
    bool RemoveCamera(const std::string& name);

private:
    static VideoDevice Describe(const SimCameraConfig& c);
    std::mutex FLock;
    std::vector<SimCameraConfig> FCameras;
};

// The simulated cameras of the configured description (AVSETUP_SIM_CONFIG or the resource).
std::shared_ptr<SimVideoBackend> CreateSimVideoBackend();
// GStreamer's device monitor for "Video/Source" devices, started at once.
std::shared_ptr<IVideoBackend> CreateRealVideoBackend();

// GStreamer, initialised once for the process (any thread).
void EnsureGStreamer();
