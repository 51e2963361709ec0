#pragma once
// A V4L2 device node as a table of controls, answering the control ioctls the way the kernel's
// control framework does (next-control walks, menus with holes, read-only and write-only
// controls, range errors, a manual value inactive under its automatic switch). Modelled on a
// USB webcam, with a few controls that must be left out of its property page.
#include "platform/v4l2/V4l2Controls.h"

#include <linux/videodev2.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class FakeV4l2Device final : public IV4l2Device {
public:
    struct Control {
        v4l2_query_ext_ctrl q{};
        std::map<__u32, std::string> menu;  // index -> name (named menus)
        std::map<__u32, long long> numbers; // index -> value (integer menus)
        __s32 value = 0;
    };

    // What the driver can do: the extended query, and walking with V4L2_CTRL_FLAG_NEXT_CTRL.
    bool extended = true, nextCtrl = true;
    bool gone = false;                           // unplugged: every call fails with ENODEV
    std::vector<std::pair<__u32, __s32>> writes; // every S_CTRL that reached the device
    std::map<__u32, Control> controls;

    static std::unique_ptr<FakeV4l2Device> Webcam() {
        auto d = std::make_unique<FakeV4l2Device>();
        d->Add(V4L2_CID_USER_CLASS, V4L2_CTRL_TYPE_CTRL_CLASS, "User Controls", 0, 0, 0, 0,
               V4L2_CTRL_FLAG_READ_ONLY | V4L2_CTRL_FLAG_WRITE_ONLY);
        d->Add(V4L2_CID_BRIGHTNESS, V4L2_CTRL_TYPE_INTEGER, "Brightness", -64, 64, 1, 0).value = 10;
        d->Add(V4L2_CID_CONTRAST, V4L2_CTRL_TYPE_INTEGER, "Contrast", 0, 95, 1, 32).value = 32;
        d->Add(V4L2_CID_HUE, V4L2_CTRL_TYPE_INTEGER, "Hue", -40, 40, 1, 0, V4L2_CTRL_FLAG_DISABLED);
        d->Add(V4L2_CID_AUTO_WHITE_BALANCE, V4L2_CTRL_TYPE_BOOLEAN, "White Balance, Automatic", 0,
               1, 1, 1)
            .value = 1;
        auto& plf = d->Add(V4L2_CID_POWER_LINE_FREQUENCY, V4L2_CTRL_TYPE_MENU,
                           "Power Line Frequency", 0, 2, 1, 1);
        plf.menu = {{0, "Disabled"}, {1, "50 Hz"}, {2, "60 Hz"}};
        plf.value = 2;
        d->Add(V4L2_CID_WHITE_BALANCE_TEMPERATURE, V4L2_CTRL_TYPE_INTEGER,
               "White Balance Temperature", 2800, 6500, 10, 4600)
            .value = 4600;
        d->Add(V4L2_CID_MIN_BUFFERS_FOR_CAPTURE, V4L2_CTRL_TYPE_INTEGER,
               "Min Number of Capture Buffers", 1, 32, 1, 1, V4L2_CTRL_FLAG_READ_ONLY)
            .value = 3;
        d->Add(V4L2_CID_CAMERA_CLASS, V4L2_CTRL_TYPE_CTRL_CLASS, "Camera Controls", 0, 0, 0, 0,
               V4L2_CTRL_FLAG_READ_ONLY | V4L2_CTRL_FLAG_WRITE_ONLY);
        auto& ae = d->Add(V4L2_CID_EXPOSURE_AUTO, V4L2_CTRL_TYPE_MENU, "Auto Exposure", 0, 3, 1, 3);
        ae.menu = {{1, "Manual Mode"}, {3, "Aperture Priority Mode"}}; // 0 and 2 not offered
        ae.value = 3;
        d->Add(V4L2_CID_EXPOSURE_ABSOLUTE, V4L2_CTRL_TYPE_INTEGER, "Exposure Time, Absolute", 3,
               2047, 1, 250)
            .value = 250;
        d->Add(V4L2_CID_PAN_RELATIVE, V4L2_CTRL_TYPE_INTEGER, "Pan, Relative", -4800, 4800, 120, 0,
               V4L2_CTRL_FLAG_WRITE_ONLY);
        d->Add(V4L2_CID_PAN_RESET, V4L2_CTRL_TYPE_BUTTON, "Pan, Reset", 0, 0, 0, 0,
               V4L2_CTRL_FLAG_WRITE_ONLY);
        auto& link =
            d->Add(V4L2_CID_LINK_FREQ, V4L2_CTRL_TYPE_INTEGER_MENU, "Link Frequency", 0, 1, 1, 0);
        link.numbers = {{0, 100000000}, {1, 200000000}};
        d->Add(V4L2_CID_PIXEL_RATE, V4L2_CTRL_TYPE_INTEGER64, "Pixel Rate", 1, 1LL << 40, 1, 1,
               V4L2_CTRL_FLAG_READ_ONLY);
        d->Add(V4L2_CID_PRIVATE_BASE, V4L2_CTRL_TYPE_INTEGER, "Private Gain", 0, 100, 5, 50).value =
            50;
        d->UpdateInactive();
        return d;
    }

    Control& Add(__u32 id, __u32 type, const char* name, long long min, long long max,
                 long long step, long long def, __u32 flags = 0) {
        Control& c = controls[id];
        c.q.id = id;
        c.q.type = type;
        std::strncpy(c.q.name, name, sizeof c.q.name - 1);
        c.q.minimum = min;
        c.q.maximum = max;
        c.q.step = __u64(step);
        c.q.default_value = def;
        c.q.flags = flags;
        return c;
    }

    int Ioctl(unsigned long request, void* arg) override {
        if (gone) return Fail(ENODEV);
        switch (request) {
        case VIDIOC_QUERYCAP:
            return 0;
        case VIDIOC_QUERY_EXT_CTRL: {
            if (!extended) return Fail(ENOTTY);
            auto* e = static_cast<v4l2_query_ext_ctrl*>(arg);
            const Control* c = Lookup(e->id, true);
            if (!c) return Fail(EINVAL);
            *e = c->q;
            return 0;
        }
        case VIDIOC_QUERYCTRL: {
            auto* q = static_cast<v4l2_queryctrl*>(arg);
            const Control* c = Lookup(q->id, nextCtrl);
            if (!c) return Fail(EINVAL);
            std::memset(q, 0, sizeof *q);
            q->id = c->q.id;
            q->type = c->q.type;
            std::memcpy(q->name, c->q.name, sizeof q->name);
            const bool wide = c->q.type == V4L2_CTRL_TYPE_INTEGER64;
            q->minimum = wide ? 0 : __s32(c->q.minimum);
            q->maximum = wide ? 0 : __s32(c->q.maximum);
            q->step = wide ? 0 : __s32(c->q.step);
            q->default_value = wide ? 0 : __s32(c->q.default_value);
            q->flags = c->q.flags;
            return 0;
        }
        case VIDIOC_QUERYMENU: {
            auto* m = static_cast<v4l2_querymenu*>(arg);
            auto it = controls.find(m->id);
            if (it == controls.end()) return Fail(EINVAL);
            if (auto n = it->second.menu.find(m->index); n != it->second.menu.end()) {
                std::strncpy(reinterpret_cast<char*>(m->name), n->second.c_str(),
                             sizeof m->name - 1);
                return 0;
            }
            if (auto n = it->second.numbers.find(m->index); n != it->second.numbers.end()) {
                m->value = n->second;
                return 0;
            }
            return Fail(EINVAL);
        }
        case VIDIOC_G_CTRL: {
            auto* v = static_cast<v4l2_control*>(arg);
            auto it = controls.find(v->id);
            if (it == controls.end()) return Fail(EINVAL);
            if (it->second.q.flags & V4L2_CTRL_FLAG_WRITE_ONLY) return Fail(EACCES);
            v->value = it->second.value;
            return 0;
        }
        case VIDIOC_S_CTRL: {
            auto* v = static_cast<v4l2_control*>(arg);
            auto it = controls.find(v->id);
            if (it == controls.end()) return Fail(EINVAL);
            Control& c = it->second;
            if (c.q.flags & V4L2_CTRL_FLAG_READ_ONLY) return Fail(EACCES);
            if (c.q.type != V4L2_CTRL_TYPE_BUTTON &&
                (v->value < c.q.minimum || v->value > c.q.maximum))
                return Fail(ERANGE);
            writes.emplace_back(v->id, v->value);
            c.value = v->value;
            UpdateInactive();
            return 0;
        }
        default:
            return Fail(ENOTTY);
        }
    }

private:
    static int Fail(int e) {
        errno = e;
        return -1;
    }

    // The control with this id, or with the next higher one when the walk flag is set (and
    // allowed).
    const Control* Lookup(__u32 id, bool walkAllowed) {
        if (id & V4L2_CTRL_FLAG_NEXT_CTRL) {
            if (!walkAllowed) return nullptr;
            auto it = controls.upper_bound(
                id & ~(V4L2_CTRL_FLAG_NEXT_CTRL | V4L2_CTRL_FLAG_NEXT_COMPOUND));
            return it == controls.end() ? nullptr : &it->second;
        }
        auto it = controls.find(id);
        return it == controls.end() ? nullptr : &it->second;
    }

    // A manual value is inactive while its automatic switch is on.
    void UpdateInactive() {
        auto link = [&](__u32 manual, __u32 automatic, bool active) {
            auto m = controls.find(manual);
            if (m == controls.end() || !controls.count(automatic)) return;
            if (active)
                m->second.q.flags &= ~__u32(V4L2_CTRL_FLAG_INACTIVE);
            else
                m->second.q.flags |= V4L2_CTRL_FLAG_INACTIVE;
        };
        if (controls.count(V4L2_CID_AUTO_WHITE_BALANCE))
            link(V4L2_CID_WHITE_BALANCE_TEMPERATURE, V4L2_CID_AUTO_WHITE_BALANCE,
                 controls[V4L2_CID_AUTO_WHITE_BALANCE].value == 0);
        if (controls.count(V4L2_CID_EXPOSURE_AUTO))
            link(V4L2_CID_EXPOSURE_ABSOLUTE, V4L2_CID_EXPOSURE_AUTO,
                 controls[V4L2_CID_EXPOSURE_AUTO].value == V4L2_EXPOSURE_MANUAL);
    }
};
