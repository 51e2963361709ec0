#include "platform/v4l2/V4l2Controls.h"

#include <fcntl.h>
#include <libv4l2.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

namespace {
class LibV4l2Device final : public IV4l2Device {
public:
    explicit LibV4l2Device(int fd) : FFd(fd) {}
    ~LibV4l2Device() override { v4l2_close(FFd); }
    int Ioctl(unsigned long request, void* arg) override {
        int r;
        do
            r = v4l2_ioctl(FFd, request, arg);
        while (r < 0 && errno == EINTR);
        return r;
    }

private:
    int FFd;
};

constexpr DWORD kErrorBusy = 170; // ERROR_BUSY
// Guards against a driver (or a damaged table) that never ends its list.
constexpr int kMaxControls = 1024;
constexpr LONG kMaxMenuItems = 256;

HRESULT FromErrno(int e) {
    switch (e) {
    case EACCES:
    case EPERM:
        return E_ACCESSDENIED;
    case EBUSY:
        return HRESULT_FROM_WIN32(kErrorBusy);
    case ENODEV:
    case ENXIO:
        return HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
    case EINVAL:
    case ERANGE:
        return E_INVALIDARG;
    default:
        return E_FAIL;
    }
}

LONG Clamp32(long long v) {
    return LONG(std::clamp<long long>(v, std::numeric_limits<LONG>::min(),
                                      std::numeric_limits<LONG>::max()));
}

std::string NameOf(const char* name, std::size_t size) {
    return std::string(name, strnlen(name, size));
}

// What both query records hold, so one translation serves the extended and the old query.
struct Query {
    __u32 id, type, flags;
    long long minimum, maximum, step, defaultValue;
    std::string name;
};

class V4l2Controls final : public IAvDeviceControls {
    AV_UNKNOWN_IMPL(IAvDeviceControls)
public:
    explicit V4l2Controls(std::unique_ptr<IV4l2Device> device) : FDevice(std::move(device)) {}

    HRESULT GetControls(std::vector<AvDeviceControl>* controls) override {
        if (!controls) return E_POINTER;
        FControls = Enumerate();
        *controls = FControls;
        return S_OK;
    }

    HRESULT GetValue(DWORD id, LONG* value) override {
        if (!value) return E_POINTER;
        const AvDeviceControl* c = Find(id);
        if (!c) return E_INVALIDARG;
        if (c->type == avcButton) {
            *value = 0;
            return S_OK;
        }
        v4l2_control ctrl{};
        ctrl.id = id;
        if (FDevice->Ioctl(VIDIOC_G_CTRL, &ctrl) < 0) return FromErrno(errno);
        *value = ctrl.value;
        return S_OK;
    }

    HRESULT SetValue(DWORD id, LONG value) override {
        const AvDeviceControl* c = Find(id);
        if (!c) return E_INVALIDARG;
        if (c->readOnly) return E_ACCESSDENIED;
        switch (c->type) {
        case avcInteger: {
            value = std::clamp(value, c->minimum, c->maximum);
            const long long step = std::max<LONG>(1, c->step);
            const long long offset =
                (static_cast<long long>(value) - c->minimum + step / 2) / step * step;
            value = Clamp32(std::min<long long>(c->minimum + offset, c->maximum));
            break;
        }
        case avcBoolean:
            value = value ? 1 : 0;
            break;
        case avcMenu:
            if (std::none_of(c->menu.begin(), c->menu.end(),
                             [&](const auto& item) { return item.first == value; }))
                return E_INVALIDARG;
            break;
        case avcButton:
            value = 1;
            break;
        }
        v4l2_control ctrl{};
        ctrl.id = id;
        ctrl.value = value;
        if (FDevice->Ioctl(VIDIOC_S_CTRL, &ctrl) < 0) return FromErrno(errno);
        return S_OK;
    }

    bool Empty() {
        FControls = Enumerate();
        return FControls.empty();
    }

private:
    const AvDeviceControl* Find(DWORD id) {
        if (FControls.empty()) FControls = Enumerate();
        for (const AvDeviceControl& c : FControls)
            if (c.id == id) return &c;
        return nullptr;
    }

    // The extended query first (every class, 64-bit ranges), then the old one, then, for drivers
    // that cannot walk their list, the standard ids and the private ones in turn.
    std::vector<AvDeviceControl> Enumerate() {
        std::vector<AvDeviceControl> out;
        if (WalkExtended(&out) || WalkOld(&out)) return out;
        Query q;
        for (__u32 id = V4L2_CID_BASE; id < V4L2_CID_LASTP1; ++id)
            if (QueryOld(id, &q)) Add(q, &out);
        for (__u32 id = V4L2_CID_PRIVATE_BASE; id < V4L2_CID_PRIVATE_BASE + kMaxControls; ++id) {
            if (!QueryOld(id, &q)) break;
            Add(q, &out);
        }
        return out;
    }

    bool WalkExtended(std::vector<AvDeviceControl>* out) {
        __u32 id = 0;
        for (int n = 0; n < kMaxControls; ++n) {
            v4l2_query_ext_ctrl e{};
            e.id = id | V4L2_CTRL_FLAG_NEXT_CTRL;
            if (FDevice->Ioctl(VIDIOC_QUERY_EXT_CTRL, &e) < 0) return n > 0;
            if (e.id <= id) return true; // a list that does not move on has ended
            id = e.id;
            Add({e.id, e.type, e.flags, e.minimum, e.maximum, (long long)(e.step), e.default_value,
                 NameOf(e.name, sizeof e.name)},
                out);
        }
        return true;
    }

    bool QueryOld(__u32 id, Query* q) {
        v4l2_queryctrl c{};
        c.id = id;
        if (FDevice->Ioctl(VIDIOC_QUERYCTRL, &c) < 0) return false;
        *q = {c.id,
              c.type,
              c.flags,
              c.minimum,
              c.maximum,
              c.step,
              c.default_value,
              NameOf(reinterpret_cast<const char*>(c.name), sizeof c.name)};
        return true;
    }

    bool WalkOld(std::vector<AvDeviceControl>* out) {
        __u32 id = 0;
        for (int n = 0; n < kMaxControls; ++n) {
            Query q;
            if (!QueryOld(id | V4L2_CTRL_FLAG_NEXT_CTRL, &q)) return n > 0;
            if (q.id <= id) return true;
            id = q.id;
            Add(q, out);
        }
        return true;
    }

    void Add(const Query& q, std::vector<AvDeviceControl>* out) {
        if (q.flags & V4L2_CTRL_FLAG_DISABLED) return;
        AvDeviceControl c;
        c.id = q.id;
        c.name = q.name;
        c.minimum = Clamp32(q.minimum);
        c.maximum = Clamp32(std::max(q.minimum, q.maximum));
        c.step = Clamp32(std::max(1LL, q.step));
        c.defaultValue = Clamp32(std::clamp(q.defaultValue, q.minimum, q.maximum));
        c.readOnly = (q.flags & V4L2_CTRL_FLAG_READ_ONLY) != 0;
        c.inactive = (q.flags & (V4L2_CTRL_FLAG_INACTIVE | V4L2_CTRL_FLAG_GRABBED)) != 0;
        const bool writeOnly = (q.flags & V4L2_CTRL_FLAG_WRITE_ONLY) != 0;
        switch (q.type) {
        case V4L2_CTRL_TYPE_INTEGER:
            if (writeOnly) return; // a relative move: nothing to show
            c.type = avcInteger;
            break;
        case V4L2_CTRL_TYPE_BOOLEAN:
            if (writeOnly) return;
            c.type = avcBoolean;
            c.minimum = 0;
            c.maximum = 1;
            c.defaultValue = c.defaultValue ? 1 : 0;
            break;
        case V4L2_CTRL_TYPE_MENU:
        case V4L2_CTRL_TYPE_INTEGER_MENU:
            if (writeOnly) return;
            c.type = avcMenu;
            for (LONG i = c.minimum; i <= c.maximum && i - c.minimum < kMaxMenuItems; ++i) {
                v4l2_querymenu m{};
                m.id = q.id;
                m.index = __u32(i);
                if (FDevice->Ioctl(VIDIOC_QUERYMENU, &m) < 0) continue; // menus may have holes
                c.menu.emplace_back(
                    i, q.type == V4L2_CTRL_TYPE_MENU
                           ? NameOf(reinterpret_cast<const char*>(m.name), sizeof m.name)
                           : std::to_string(static_cast<long long>(m.value)));
            }
            if (c.menu.empty()) return;
            break;
        case V4L2_CTRL_TYPE_BUTTON:
            c.type = avcButton;
            c.minimum = c.maximum = c.defaultValue = 0;
            break;
        default:
            return; // class headers, 64-bit, strings, bit masks, compound values
        }
        out->push_back(std::move(c));
    }

    std::unique_ptr<IV4l2Device> FDevice;
    std::vector<AvDeviceControl> FControls; // as last enumerated
};
} // namespace

std::unique_ptr<IV4l2Device> OpenV4l2Device(const std::string& node) {
    if (node.empty()) return nullptr;
    const int fd = open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    // Asked first without libv4l2, which would complain aloud about a node that is no camera;
    // only the controls are used here, so libv4l2 converts no pictures on this descriptor.
    v4l2_capability cap{};
    if (ioctl(fd, VIDIOC_QUERYCAP, &cap) < 0 || v4l2_fd_open(fd, V4L2_DISABLE_CONVERSION) < 0) {
        close(fd);
        return nullptr;
    }
    return std::make_unique<LibV4l2Device>(fd);
}

ComPtr<IAvDeviceControls> CreateV4l2Controls(std::unique_ptr<IV4l2Device> device) {
    if (!device) return nullptr;
    auto controls = MakeCom<V4l2Controls>(std::move(device));
    if (controls->Empty()) return nullptr;
    return ComPtr<IAvDeviceControls>(controls.Get());
}
