#pragma once
// What the format converters share (TAvACMConverter over the compression manager, and
// TAvADPCMConverter with decoders of our own): the input they hold, the destination they derive
// from it, whether a conversion is needed and possible, and the run around the converted bytes
// that wait to be handed out. A subclass derives the conversion (UpdateConversion,
// BuildDestFormat), sets up and frees what it converts with, and pulls and converts in BufferLoad.
//
// Threads: properties, formats and the open/start/stop notifications on the main thread;
// BufferLoad, BufferReady and Flushed on the thread that handles the driving device's buffers.
// No locks.
#include "audio/stream/AvDSPObj.h"

// No meta-object of its own: it publishes nothing, the converters publish their properties.
class TAvCustomConverter : public TAvDSPComponent {
public:
    using TAvDSPComponent::TAvDSPComponent;

    bool Enabled() const { return FEnabled; }

    // Computes the destination format from the input (and what the subclass is asked for).
    virtual void BuildDestFormat() = 0;

    const WAVEFORMATEX* InputFormat() const { return FInputFormat.get(); }
    const WAVEFORMATEX* DestFormat() const { return FDestFormat.get(); }
    bool ConversionNeeded() const { return FNeeded; }
    bool ConversionPossible() const { return FPossible; }
    bool Prepared() const { return FPrepared; }

    // Opened prepares the conversion when enabled (Fail when it is needed but impossible);
    // Closed frees it. Started begins a run with nothing pending; Stopped drops the converted
    // bytes still waiting; Flushed drops them too and starts the conversion afresh (the source
    // moved), and forgets that the input was exhausted.
    void Opened() override;
    void Closed() override;
    void Started() override;
    void Stopped() override;
    void Flushed() override;

protected:
    void Loaded() override;
    // Re-derives destination, conversion needed/possible, and passes the resulting format on.
    virtual void UpdateConversion() = 0;
    // Sets up what the conversion needs (needed and possible); Fail when it cannot.
    virtual void PrepareConversion() = 0;
    // Frees what PrepareConversion set up, and what is pending in it.
    virtual void FreeConversion() = 0;
    // Drops what the conversion holds of the source, so that it starts afresh.
    virtual void RestartConversion() = 0;
    // Marks the conversion impossible and raises the converter's error.
    [[noreturn]] virtual void Fail() = 0;

    // Prepares when the conversion is needed (Fail when impossible); then Prepared is true.
    void Prepare();
    bool Converting() const { return FPrepared && FRunning && FEnabled && FNeeded && FPossible; }
    // Copies converted bytes that wait (converted + FConsumed up to FProduced) into the free room
    // of the caller's buffer; returns the room left.
    int HandOut(TAvWaveHdr* h, const BYTE* converted);
    // The loop fields a pull carries to the source and back.
    static void CopyLoopFields(const TAvWaveHdr& from, TAvWaveHdr& to);

    bool FEnabled = true;
    TAvFormatPtr FInputFormat;
    TAvFormatPtr FDestFormat;
    bool FNeeded = false;
    bool FPossible = false;
    bool FPrepared = false;
    bool FRunning = false;
    int FProduced = 0; // converted bytes ready
    int FConsumed = 0; // of them, handed out
    bool FMoreBuffers = false;
    bool FExhausted = false; // the input has nothing more
    TAvWaveHdr FPullHdr{};   // the header a pull from the Input fills
};
