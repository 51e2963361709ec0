#pragma once
// The level meter: a windowless bar of equal spots in three colour zones with a falling peak
// marker, fed with blocks of PCM samples; and the shared 25 ms timer service that runs the meters'
// peak ticks (and the connectors' re-arm ticks) on the platform's timer thread. The numbers (lit
// spots, marker, whether to draw) come from the meter's TAvLevelModel (AvLevelModel.h); the meter
// measures blocks, lays out the spots and draws.
//
// Threads:
//   - Every meter operation runs on the main thread (the connector feeds the meter there in its
//     real-time mode, the one the wizard uses). A meter fed from another thread only schedules
//     a normal repaint instead of drawing at once (TAvDIBGraphicControl::PaintDirect).
//   - The peak tick runs on the timer service's thread. It touches only the model's three peak
//     fields, which are atomics (PeakSpot, PeakHold, RedrawPending), and hands a repaint of a
//     changed marker to the main thread with a queued call; it never touches the widget itself. The
//     meter's timer client is enabled only while a marker shows (it has nothing to do
//     otherwise): a new peak wakes it, the tick that takes the marker away puts it to sleep, so
//     the service's timer stops while no meter shows a peak.
//   - The timer service's functions may be called on any thread, also from inside a client's
//     callback (the list lock is recursive).
#include "audio/display/AvDIBCv.h"
#include "audio/display/AvLevelModel.h"
#include "audio/display/AvUtils.h"
#include "framework/Events.h"
#include "framework/Exceptions.h"
#include "platform/api/mmreg.h"

#include <QTimer>
#include <atomic>
#include <cstdint>
#include <functional>

AV_DECLARE_EXCEPTION(EAvLevelError, Exception);

// ---- Shared timer service --------------------------------------------------------------------
// One periodic platform multimedia timer of AvTimerPeriod ms, started with the first client and
// killed with the last. Each tick adds the period to the elapsed time of every enabled client (in
// the order they were added) and calls a client whose elapsed time reached its interval.

struct TAvTimerClient;
// Called on the tick's thread with the list lock held; may call every service function.
using TAvTimerProc = std::function<void(TAvTimerClient* client, void* owner)>;

constexpr int AvTimerPeriod = 25;

// A new client with interval max(interval, 25) ms, disabled disableCount times (0: enabled),
// appended to the list. nullptr when the platform timer cannot be started.
TAvTimerClient* TimerAddClient(int interval, int disableCount, TAvTimerProc proc, void* owner);
// Unlinks and frees the client; when a callback of it runs on another thread this waits for its
// end, so no callback runs after the return. The last client stops the platform timer.
void TimerRemoveClient(TAvTimerClient* client);
// Disable counts nest: each disable needs one enable. Disabling clears the elapsed time.
void TimerDisableClient(TAvTimerClient* client);
void TimerEnableClient(TAvTimerClient* client);
// Interval := max(interval, 25); the elapsed time restarts.
void TimerSetInterval(TAvTimerClient* client, int interval);

// Inspection (any thread): number of clients, whether a client is enabled, its interval.
int TimerClientCount();
bool TimerClientEnabled(const TAvTimerClient* client);
int TimerClientInterval(const TAvTimerClient* client);
// One tick of the service, run on the calling thread (what the platform timer runs).
void TimerServiceTick();
// Manual mode: no platform timer runs, ticks come only from TimerServiceTick (deterministic
// tests). Switching kills or starts the platform timer as needed.
void TimerServiceSetManual(bool manual);
bool TimerServiceManual();
bool TimerServiceHasPlatformTimer();

// ---- Level meter -------------------------------------------------------------------------------

enum TAvLevelKind : std::uint8_t { lkHorizontal, lkVertical };
enum TAvLevelDirection : std::uint8_t { dirNormal, dirReversed, dirSymetric };

// (Sender, DIB, Rect, nSpots, Peak): draws the whole bar on the work surface instead of the meter.
using TAvLevelDrawBar = TEvent<TObject*, TAvDIBCanvas*, const TRect&, int, int>;

class TAvCustomLevel : public TAvDIBGraphicControl {
    Q_OBJECT
public:
    static constexpr int FullScale = TAvLevelModel::FullScale;

    explicit TAvCustomLevel(TComponent* AOwner);
    ~TAvCustomLevel() override;

    // Analyses one block of Samples() frames (BlockBytes() bytes) and shows its level. Nothing
    // happens while the meter is disabled or invisible, or for nullptr.
    void ProcessBlock(const void* samples);
    // The same for a buffer of byteCount bytes: at most the whole frames it holds are read.
    void ProcessBlock(const void* samples, int byteCount);
    // Maps a magnitude on the 0..32767 scale to lit spots, updates the peak, draws at once.
    void SetLevel(int magnitude);
    // Between these (nested) every block is analysed and its peak kept, but the meter draws
    // only once, at the last EndFeed, when anything changed: the connector hands over all the
    // blocks due in one display frame at once.
    void BeginFeed();
    void EndFeed();
    // Takes bits and channels of a PCM format; EAvLevelError "Invalid WaveFormat" otherwise.
    void SetFormat(const WAVEFORMATEX* format);
    // No level, no peak, no smoothing history; repaints at once.
    void ResetLevel();
    void ResetDecay();
    int BlockBytes() const { return FBlockBytes; }

    // Properties (main thread).
    TAvLevelKind Kind() const { return FKind; }
    void SetKind(TAvLevelKind v);
    int SpotSpace() const { return FSpotSpace; }
    void SetSpotSpace(int v);
    int SpotWidth() const { return FSpotWidth; }
    void SetSpotWidth(int v);
    // Colours by index: 0..2 Bar1Color..Bar3Color, 3..5 Inactive1Color..Inactive3Color.
    TColor BarColor(int index) const { return FColors[index]; }
    void SetBarColor(int index, TColor v);
    TColor Bar1Color() const { return FColors[0]; }
    void SetBar1Color(TColor v) { SetBarColor(0, v); }
    TColor Bar2Color() const { return FColors[1]; }
    void SetBar2Color(TColor v) { SetBarColor(1, v); }
    TColor Bar3Color() const { return FColors[2]; }
    void SetBar3Color(TColor v) { SetBarColor(2, v); }
    TColor Inactive1Color() const { return FColors[3]; }
    void SetInactive1Color(TColor v) { SetBarColor(3, v); }
    TColor Inactive2Color() const { return FColors[4]; }
    void SetInactive2Color(TColor v) { SetBarColor(4, v); }
    TColor Inactive3Color() const { return FColors[5]; }
    void SetInactive3Color(TColor v) { SetBarColor(5, v); }
    bool InactiveDoted() const { return FInactiveDoted; }
    void SetInactiveDoted(bool v);
    bool ActiveDoted() const { return FActiveDoted; }
    void SetActiveDoted(bool v);
    int Point1() const { return FPoint1; }
    void SetPoint1(int v);
    int Point2() const { return FPoint2; }
    void SetPoint2(int v);
    TAvLevelDirection Direction() const { return FDirection; }
    void SetDirection(TAvLevelDirection v);
    TAvBits BitLength() const { return FBitLength; }
    void SetBitLength(TAvBits v);
    TAvChannel Channel() const { return FChannel; }
    void SetChannel(TAvChannel v);
    TAvMode Mode() const { return FMode; }
    void SetMode(TAvMode v);
    int Gain() const { return FGain; }
    void SetGain(int v); // eighths; values outside -8..32 are ignored
    int Samples() const { return FSamples; }
    void SetSamples(int v);
    int Sensitivy() const { return FModel.Sensitivy(); }
    void SetSensitivy(int v);
    bool LogAmp() const { return FModel.LogAmp(); }
    void SetLogAmp(bool v);
    int NumPeaks() const { return FModel.NumPeaks(); }
    void SetNumPeaks(int v);
    int PeakDelay() const { return FModel.PeakDelay(); }
    void SetPeakDelay(int v);
    int PeakSpeed() const { return FModel.PeakSpeed(); }
    void SetPeakSpeed(int v);
    TAvDecayMode DecayMode() const { return FModel.DecayMode(); }
    void SetDecayMode(TAvDecayMode v);
    int Decay() const { return FModel.Decay(); }
    void SetDecay(int v);
    // Percent of full scale shown now; the setter shows that level.
    int Value() const { return FModel.Value(); }
    void SetValue(int percent);
    int DCOffsetL() const { return -FOffsetL; }
    void SetDCOffsetL(int v) { FOffsetL = -v; }
    int DCOffsetR() const { return -FOffsetR; }
    void SetDCOffsetR(int v) { FOffsetR = -v; }

    // Main thread. The shortest time between two pictures of new levels, in ms (0, the default:
    // every visible change is drawn at once). A change that comes sooner is drawn with the first
    // level after that time, or two intervals after the last picture when no level follows, so a
    // meter fed 160 blocks a second draws at the screen's pace while every block is analysed.
    // A reset always draws at once.
    int DrawInterval() const { return FDrawInterval; }
    void SetDrawInterval(int ms);

    TNotifyEvent OnPaint;
    TNotifyEvent OnGainOverflow;
    TNotifyEvent OnPcmOverflow;
    const TAvLevelDrawBar& OnDrawBar() const { return FOnDrawBar; }
    void SetOnDrawBar(TAvLevelDrawBar handler);

    // State readers (main thread; the peak fields may be read on any thread). The model has the
    // rest (hold, pending redraw, smoothing constants, gain factor).
    const TAvLevelModel& Model() const { return FModel; }
    int SpotCount() const { return FModel.SpotCount(); }
    int SpotMargin() const { return FSpotMargin; }
    int Point1Spot() const { return FPoint1Spot; }
    int Point2Spot() const { return FPoint2Spot; }
    int LevelSpots() const { return FModel.LevelSpots(); }
    int RawLevel() const { return FModel.RawLevel(); }
    int PeakSpot() const { return FModel.PeakSpot(); }
    TRect LevelInnerRect() const { return FInner; }
    int InnerWidth() const { return FInnerWidth; }
    int InnerHeight() const { return FInnerHeight; }
    TAvDIBCanvas* BackgroundSurface() const { return FBackground.get(); }
    TAvTimerClient* TimerClient() const { return FTimerClient; }

    void SetBounds(int left, int top, int width, int height) override;
    void SetEnabled(bool v) override;
    // A level indicator for screen readers: a progress bar whose value is Value() (0 .. 100,
    // AvLevelAccessible.cpp).
    QAccessibleInterface* CreateAccessible() override;
    // 8 or 24 for both surfaces; EAvDIBError "Bitlength not supported yet" otherwise.
    void SetBitsPerPixel(int n) override;
    void SetDesignMode(bool designing) override;

protected:
    virtual void GainOverflow();
    virtual void PcmOverflow();

    void Paint() override;
    void Loaded() override;
    void ColorChanged() override;
    void BevelChanged(TObject* sender) override;

    // Spot count, margin and zone boundaries from the inner size; re-renders the background.
    void CalcGeometry();
    // The inactive bar on the background surface.
    void RenderBackground();
    // The whole meter: background copy, live bar, peak, blit to the control's canvas.
    void Draw();
    // One bar of `count` spots (inactive colours when background) and the peak marker.
    void DrawBar(TAvDIBCanvas* dib, int count, bool background, int peak);

private:
    void UpdateInnerRect();
    void UpdateBlockBytes();
    // Enables the timer client while the meter is enabled, has peak markers and shows one;
    // disables it otherwise. Main thread; the tick puts it to sleep itself (TickSleep).
    void UpdateTimerClient();
    void TickWake();
    void TickSleep();
    void ClearPeak();
    void DrawNow();
    // DrawNow, or later within DrawInterval; nothing while hidden or disabled. ifBehind: only a
    // picture that a deferral has left behind the level.
    void DrawLevel(bool ifBehind = false);
    // Tells screen readers of a new Value() when it differs from the last one told (main thread,
    // only while one listens).
    void AccessibleValueChanged();
    int BarLength() const;
    TColor ZoneColor(int spot, bool background) const;
    void PeakTick(); // timer thread
    // Main thread, queued by PeakTick by name: the call carries no data of ours across threads.
    Q_INVOKABLE void ShowPendingPeak();

    TAvLevelModel FModel;
    TAvTimerClient* FTimerClient = nullptr;
    std::atomic<bool> FTickAwake{false}; // the client's state as this meter last set it
    std::unique_ptr<TAvDIBCanvas> FBackground;

    TAvLevelKind FKind = lkHorizontal;
    int FSpotSpace = 1;
    int FSpotWidth = 1;
    TColor FColors[6] = {16776960, 16776960, 255, 8421376, 8421376, 128};
    bool FInactiveDoted = false;
    bool FActiveDoted = false;
    int FPoint1 = 50;
    int FPoint2 = 85;
    TAvLevelDirection FDirection = dirNormal;
    TAvBits FBitLength = b8Bit;
    TAvChannel FChannel = chBoth;
    TAvMode FMode = mMono;
    int FGain = 0;
    int FSamples = 50;

    int FPoint1Spot = 0;
    int FPoint2Spot = 0;
    int FSpotMargin = 0;
    int FBlockBytes = 50;
    std::atomic<bool> FRepaintQueued{false}; // shared with the peak tick
    int FInnerWidth = 1;
    int FInnerHeight = 1;
    TRect FInner;
    int FOffsetL = 0; // negated DC offsets
    int FOffsetR = 0;
    TAvLevelDrawBar FOnDrawBar;
    int FDrawInterval = 0;
    std::int64_t FLastDrawUs = 0;        // steady clock
    bool FDrawDeferred = false;          // the picture is behind the level
    int FAccessibleValue = -1;           // the value screen readers were last told
    std::unique_ptr<QTimer> FDeferTimer; // draws a deferred picture when no level follows
    int FFeedDepth = 0;                  // BeginFeed nesting
    bool FFeedDraw = false;              // a draw held back until EndFeed
};

// The meter with its properties published for the forms.
class TAvLevel : public TAvCustomLevel {
    Q_OBJECT
    Q_PROPERTY(int Kind READ KindInt WRITE SetKindInt)
    Q_PROPERTY(int SpotSpace READ SpotSpace WRITE SetSpotSpace)
    Q_PROPERTY(int SpotWidth READ SpotWidth WRITE SetSpotWidth)
    Q_PROPERTY(int Bar1Color READ Bar1Color WRITE SetBar1Color)
    Q_PROPERTY(int Bar2Color READ Bar2Color WRITE SetBar2Color)
    Q_PROPERTY(int Bar3Color READ Bar3Color WRITE SetBar3Color)
    Q_PROPERTY(int Inactive1Color READ Inactive1Color WRITE SetInactive1Color)
    Q_PROPERTY(int Inactive2Color READ Inactive2Color WRITE SetInactive2Color)
    Q_PROPERTY(int Inactive3Color READ Inactive3Color WRITE SetInactive3Color)
    Q_PROPERTY(bool InactiveDoted READ InactiveDoted WRITE SetInactiveDoted)
    Q_PROPERTY(bool ActiveDoted READ ActiveDoted WRITE SetActiveDoted)
    Q_PROPERTY(int Point1 READ Point1 WRITE SetPoint1)
    Q_PROPERTY(int Point2 READ Point2 WRITE SetPoint2)
    Q_PROPERTY(int Direction READ DirectionInt WRITE SetDirectionInt)
    Q_PROPERTY(int BitLength READ BitLengthInt WRITE SetBitLengthInt)
    Q_PROPERTY(int Channel READ ChannelInt WRITE SetChannelInt)
    Q_PROPERTY(int Mode READ ModeInt WRITE SetModeInt)
    Q_PROPERTY(int Gain READ Gain WRITE SetGain)
    Q_PROPERTY(int Samples READ Samples WRITE SetSamples)
    Q_PROPERTY(int Sensitivy READ Sensitivy WRITE SetSensitivy)
    Q_PROPERTY(bool LogAmp READ LogAmp WRITE SetLogAmp)
    Q_PROPERTY(int NumPeaks READ NumPeaks WRITE SetNumPeaks)
    Q_PROPERTY(int PeakDelay READ PeakDelay WRITE SetPeakDelay)
    Q_PROPERTY(int PeakSpeed READ PeakSpeed WRITE SetPeakSpeed)
    Q_PROPERTY(int DecayMode READ DecayModeInt WRITE SetDecayModeInt)
    Q_PROPERTY(int Decay READ Decay WRITE SetDecay)
    Q_PROPERTY(int Value READ Value WRITE SetValue)
    Q_PROPERTY(int DCOffsetL READ DCOffsetL WRITE SetDCOffsetL)
    Q_PROPERTY(int DCOffsetR READ DCOffsetR WRITE SetDCOffsetR)
public:
    using TAvCustomLevel::TAvCustomLevel;

private:
    int KindInt() const { return Kind(); }
    void SetKindInt(int v) { SetKind(static_cast<TAvLevelKind>(v)); }
    int DirectionInt() const { return Direction(); }
    void SetDirectionInt(int v) { SetDirection(static_cast<TAvLevelDirection>(v)); }
    int BitLengthInt() const { return BitLength(); }
    void SetBitLengthInt(int v) { SetBitLength(static_cast<TAvBits>(v)); }
    int ChannelInt() const { return Channel(); }
    void SetChannelInt(int v) { SetChannel(static_cast<TAvChannel>(v)); }
    int ModeInt() const { return Mode(); }
    void SetModeInt(int v) { SetMode(static_cast<TAvMode>(v)); }
    int DecayModeInt() const { return DecayMode(); }
    void SetDecayModeInt(int v) { SetDecayMode(static_cast<TAvDecayMode>(v)); }
};
