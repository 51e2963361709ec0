#pragma once
// Inside the capture platform: how its objects recognise each other behind the public interfaces.
#include "platform/dshow/dshow.h"

#include <string>

typedef struct _GstElement GstElement;

// Answered by this platform's filter graphs only.
struct IAvGraphInspect : IUnknown {
    // Keep the graph's structure written to this Graphviz file while it changes; empty: stop
    // and remove the file.
    virtual void SetDumpFile(const std::string& path) = 0;
};
AV_INTERFACE_ID(IAvGraphInspect, 0x2F0C55B1, 0x6A0E, 0x4E39, 0x8B, 0x61, 0x0D, 0x3C, 0x7A, 0x91,
                0x44, 0xE2);

// Creates an object of one of the platform's classes (CoCreateInstance's table).
HRESULT AvCreateInstance(REFCLSID clsid, REFIID riid, void** ppv);

// The folder the running object table writes graph files into (created on demand).
std::string GraphDumpFolder();
