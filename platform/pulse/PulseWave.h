#pragma once
// Wave output and input on server streams.
//
// Output: buffers are copied into a playback stream ahead of the ear; a buffer is reported done
// once the server holds all of it and its end is less than 300 ms from being heard (a driver
// hands a buffer back once it no longer needs its memory), except the last one queued, which is
// reported once the server's report proves it heard: when every buffer is done, everything has
// been heard. The position is what has been heard. Pause corks the stream, Reset replaces it with
// a fresh one (position back to 0, nothing left to play).
// Input: a record stream, corked until Start; recorded data fills the queued buffers in order.
//
// Both are a PulseStream: the server stream, its device, the buffers' way back, close and failure.
// An open stream listens to the context (an output applies the Wave Out level set for its sink).
//
// Threads: the IWave*Stream calls come from any thread (one at a time per stream) and take the
// main-loop lock; server callbacks run on the main-loop thread and report finished buffers there.
#include "platform/api/AudioBackend.h"
#include "platform/pulse/PulseContext.h"

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Checks a format the way the server can play it: PCM, 8 or 16 bits, 1 or 2 channels, a sane
// rate, consistent block align and byte rate. Gives the server's sample spec.
bool PulseSpecOf(const WAVEFORMATEX& format, pa_sample_spec* spec);

// What wave output (Interface IWaveOutStream) and input (IWaveInStream) share.
template <class Interface> class PulseStream : public Interface, protected PulseListener {
public:
    // device: the device's server name, empty for the server's default (the mapper); index: its
    // server index, PA_INVALID_INDEX for the mapper.
    PulseStream(std::shared_ptr<PulseContext> ctx, const pa_sample_spec& spec, std::string device,
                std::uint32_t index, IWaveEvents* events);
    // Connects and waits (bounded) until the server accepted the stream.
    MMRESULT Open();

    MMRESULT GetPosition(std::uint64_t* frames) final;
    MMRESULT GetDeviceId(UINT* id) final;
    // Every buffer still queued comes back; the stream ends.
    void Close() final;

protected:
    // Main-loop lock held, all four.
    virtual bool CreateStream() = 0; // a connecting stream_; false when refused
    virtual void DropStream();       // lets go of stream_ and whatever hangs on it
    virtual std::vector<WAVEHDR*>
    TakeQueue() = 0;                   // empties the queue, giving every buffer in order
    virtual std::uint64_t Bytes() = 0; // played or recorded
    // The stream died: every buffer is returned, every call answers NODRIVER. Loop thread.
    void Fail();
    // Stops listening and lets go of the stream: each stream's destructor (any thread).
    void Release();
    // Runs take with the main-loop lock held, then reports the buffers it gave back (any thread
    // but the loop thread's callbacks). NODRIVER once the stream has failed.
    MMRESULT GiveBack(const std::function<std::vector<WAVEHDR*>()>& take);

    std::shared_ptr<PulseContext> ctx_;
    pa_sample_spec spec_;
    std::string device_;
    std::uint32_t index_;
    IWaveEvents* events_;
    pa_stream* stream_ = nullptr;
    std::atomic<bool> gone_{false};
    bool closed_ = false;
};

class PulseWaveOut : public PulseStream<IWaveOutStream> {
public:
    using PulseStream::PulseStream;
    ~PulseWaveOut() override;

    MMRESULT Write(WAVEHDR* hdr) override;
    MMRESULT Pause() override;
    MMRESULT Restart() override;
    MMRESULT Reset() override;

    // Main-loop lock held.
    std::string SinkName() const;
    void ApplyLevel(const WaveOutLevel& level);

private:
    struct Pending {
        WAVEHDR* hdr;
        std::uint64_t end; // stream byte position just after its last byte
    };
    bool CreateStream() override;
    void DropStream() override;
    std::vector<WAVEHDR*> TakeQueue() override;
    std::uint64_t Bytes() override { return PlayedBytes(); }
    void WaveOutLevelChanged(const std::string& sink, const WaveOutLevel& level) override;
    void Pump();      // hands queued data over, then arms the next done check
    void HandOver();  // writes queued data up to the write-ahead
    void Rearm();     // a trigger if the server waits for it, and the next done check
    void CheckDone(); // reports the buffers that are due
    static pa_usec_t Now();
    pa_usec_t NextCheckUs();
    void ArmTimer(pa_usec_t inUs); // a done check then, unless one is due earlier
    void RequestTiming();          // fresh timing from the server, unless on its way
    std::uint64_t PlayedBytes();
    // Whether the server's last report proves that the stream's first end bytes will have been
    // heard, and in how long from now (0: they have).
    bool ProvenHeardIn(std::uint64_t end, pa_usec_t* in);
    // Drains a stream the server says is dry short of end: the completion proves it played.
    void DrainIfDry(std::uint64_t end);
    void ForgetReport(); // the stream's run changes: reports so far (and on their way) are past
    static void OnState(pa_stream* s, void* self);
    static void OnWrite(pa_stream* s, std::size_t n, void* self);
    static void OnTimer(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self);
    static void OnTiming(pa_stream* s, int success, void* self);
    static void OnUnderflow(pa_stream* s, void* self);
    static void OnDrained(pa_stream* s, int success, void* self);

    pa_time_event* timer_ = nullptr;
    std::deque<Pending> queue_; // every buffer not yet reported, in order
    std::size_t unwritten_ = 0; // index in queue_ of the first buffer not fully written
    std::size_t offset_ = 0;    // bytes of that buffer already written
    std::uint64_t queuedEnd_ = 0, written_ = 0, played_ = 0;
    pa_usec_t playedAt_ = 0;        // when played_ was last brought up to date
    std::uint64_t provenEnd_ = 0;   // heard, on the server's word
    std::uint64_t reportedEnd_ = 0; // end of the last buffer reported done
    pa_usec_t batchUs_ = 0;         // least time between checks reporting early
    std::uint64_t triggeredAt_ = 0; // written_ when playback was last started early
    bool triggerNeeded_ = false;    // the server waits for more than a frame before it plays
    // The interpolated position reached the end of what was written: nothing past dryCap_
    // counts as played until the server's next timing report.
    bool dryGuard_ = false;
    std::uint64_t dryCap_ = 0;
    bool paused_ = false;
    bool timerArmed_ = false;
    pa_usec_t timerDue_ = 0;
    pa_usec_t lastCheck_ = 0;    // when the last done check ran
    bool timingPending_ = false; // a timing update is on its way
    // The request behind it: cancelled with the stream, since libpulse may still answer a request
    // of a stream that is already gone, with this object as its userdata.
    pa_operation* timingOp_ = nullptr;
    pa_operation* drainOp_ = nullptr; // a drain on its way (cancelled with the stream)
    std::uint64_t drainCovers_ = 0;   // written_ when it was asked for
    std::uint64_t drainedEnd_ = 0;    // what the last drain completed proves taken by the server
    pa_usec_t drainHeardAt_ = 0;      // and when it has been heard
    // A report of ours proves what the server had been sent when it was asked for
    // (requestCovers_ then, reportCovers_ once answered), unless the run changed meanwhile.
    std::uint64_t requestCovers_ = 0, reportCovers_ = 0;
    bool reportValid_ = false, requestStale_ = false;
    int ticks_ = 0;
};

class PulseWaveIn : public PulseStream<IWaveInStream> {
public:
    using PulseStream::PulseStream;
    ~PulseWaveIn() override;

    MMRESULT AddBuffer(WAVEHDR* hdr) override;
    MMRESULT Start() override;
    MMRESULT Stop() override;
    MMRESULT Reset() override;

private:
    bool CreateStream() override;
    void DropStream() override;
    std::vector<WAVEHDR*> TakeQueue() override;
    std::uint64_t Bytes() override { return recorded_; }
    void Cork(bool cork); // stops or starts recording (main-loop lock held)
    static void OnState(pa_stream* s, void* self);
    static void OnRead(pa_stream* s, std::size_t n, void* self);

    std::deque<WAVEHDR*> queue_;
    std::uint64_t recorded_ = 0; // bytes since open or the last Reset
    bool started_ = false;
};

extern template class PulseStream<IWaveOutStream>;
extern template class PulseStream<IWaveInStream>;
