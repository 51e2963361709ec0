#pragma once
// The mixer block: a panel that stands for one mixer line. Given Line it creates and binds the
// line's pan, volume, mute and peak-meter controls itself, finds the block children placed inside
// it (block sliders, block check box, block levels, block labels; directly or inside a windowed
// control in it), binds each to the right control and lays them out as a mixer strip:
//
//     line name              (name label)
//     Balance:               (balance label)
//     [ pan slider ]
//     Volume:                (volume label)
//     [left] [right] [lvl][lvl]   volume sliders with level displays beside them
//     [x] Mute / Select      (check box)
//
// With Mixer (a mixer or multiplexer control of the line's destination) the check box selects
// the line as a source of that destination instead of muting it; MuteKind tells which.
//
// Block children announce themselves to the block they sit in (ChildMessage): joining, leaving,
// a role change; the block re-scans its children then. A block child put anywhere outside a
// block raises EAvBlockError "This controls can be used only with MixerBlock".
//
// TAvMixerConnector reads a peak-meter control every Interval ms (main-thread timer) and feeds
// up to two level meters with it.
//
// Threads: main thread only.
#include "audio/display/AvLevel.h"
#include "audio/mixer/AvCCon.h"
#include "audio/mixer/AvMixCtl.h"
#include "framework/StdCtrls.h"

#include <QTimer>
#include <memory>

AV_DECLARE_EXCEPTION(EAvBlockError, Exception);

enum TAvMuteKind : std::uint8_t { mkMute, mkSelect };
enum TAvBlockStyle : std::uint8_t { bsWin95 };
enum TAvBlockSliderRole : std::uint8_t { srPan, srLeftVolume, srRightVolume };
enum TAvBlockSliderStyle : std::uint8_t { ssWin95 };
enum TAvBlockLevelIndex : std::uint8_t { liLeft, liRight };
enum TAvBlockLevelStyle : std::uint8_t { lsWin95 };
// Label indexes: the line's name, "Balance:", "Volume:".
enum TAvBlockLabelIndex : std::uint8_t { biName, biBalance, biVolume };

// Codes of the child registration message.
enum TAvBlockChildCode : int {
    bcAdded = 0,       // a child joined with its role already set
    bcAddedNoRole = 1, // a child joined without an explicit role
    bcRemoving = 2,    // a child is about to leave (or to be destroyed)
    bcRoleChanged = 3, // a child's role changed
};

class TAvCustomMixerBlock;

// The mixer block that parent is or sits in, nullptr when none.
TAvCustomMixerBlock* FindMixerBlock(TWinControl* parent);

// ---- Level connector --------------------------------------------------------------------------

class TAvMixerConnector : public TAvNonVisualComponent {
    Q_OBJECT
    Q_PROPERTY(TAvCustomMixerControl* Control READ Control WRITE SetControl)
    Q_PROPERTY(TAvCustomLevel* Level1 READ Level1 WRITE SetLevel1)
    Q_PROPERTY(TAvCustomLevel* Level2 READ Level2 WRITE SetLevel2)
    Q_PROPERTY(bool AutoTrigger READ AutoTrigger WRITE SetAutoTrigger)
    Q_PROPERTY(int Interval READ Interval WRITE SetInterval)
    Q_PROPERTY(int Item READ Item WRITE SetItem)
    Q_PROPERTY(bool Enabled READ Enabled WRITE SetEnabled)
public:
    explicit TAvMixerConnector(TComponent* AOwner);
    ~TAvMixerConnector() override;

    // A fader, meter, number, slider or time control; others raise EAvMixerControlsError
    // "Invalid control class". Not owned.
    TAvCustomMixerControl* Control() const { return FControl; }
    void SetControl(TAvCustomMixerControl* control);
    TAvCustomLevel* Level1() const { return FLevel1; }
    void SetLevel1(TAvCustomLevel* level);
    TAvCustomLevel* Level2() const { return FLevel2; }
    void SetLevel2(TAvCustomLevel* level);
    // Read by the timer; without it only Trigger reads.
    bool AutoTrigger() const { return FAutoTrigger; }
    void SetAutoTrigger(bool v);
    int Interval() const { return FInterval; }
    void SetInterval(int ms); // at least 1
    TAvItemIndex Item() const { return FItem; }
    void SetItem(TAvItemIndex v) { FItem = v; }
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool v);
    // Raised when the scaled readings changed; assigning it may start the timer.
    void SetOnChange(TNotifyEvent handler);

    // Reads the control once and feeds the levels (skipped while loading or when the control is
    // not valid). A platform failure stops the timer and reaches the caller.
    void Trigger();
    // Last scaled readings, 0 .. 32768.
    int LeftValue() const { return FValues[0]; }
    int RightValue() const { return FValues[1]; }
    int WholeValue() const { return FValues[2]; }
    bool TimerActive() const { return FTimer.isActive(); }

protected:
    void Loaded() override;
    void Notification(TComponent* AComponent, TOperation Operation) override;

private:
    void UpdateTimer();
    void Tick();
    int Scale(LONG value) const;

    TAvCustomMixerControl* FControl = nullptr;
    TAvCustomLevel* FLevel1 = nullptr;
    TAvCustomLevel* FLevel2 = nullptr;
    bool FAutoTrigger = true;
    int FInterval = 25;
    TAvItemIndex FItem = -1;
    bool FEnabled = true;
    bool FRead = false; // a first reading has been made
    int FValues[3] = {0, 0, 0};
    TNotifyEvent FOnChange;
    QTimer FTimer;
};

// ---- Block children ---------------------------------------------------------------------------

// A mixer slider that lives in a block: pan, left volume or right volume.
class TAvCustomBlockSlider : public TAvCustomMixerSlider {
    Q_OBJECT
public:
    explicit TAvCustomBlockSlider(TComponent* AOwner);
    ~TAvCustomBlockSlider() override;

    TAvBlockSliderRole Role() const { return FRole; }
    void SetRole(TAvBlockSliderRole v);
    bool RoleExplicit() const { return FRoleExplicit; }
    TAvBlockSliderStyle Style() const { return FStyle; }
    void SetStyle(TAvBlockSliderStyle v);
    // Raises EAvBlockError outside a mixer block.
    void SetParent(TWinControl* parent) override;

protected:
    // The look of a block slider for its role.
    void ApplyStyle();

private:
    TAvBlockSliderRole FRole = srPan;
    bool FRoleExplicit = false;
    TAvBlockSliderStyle FStyle = ssWin95;
};

class TAvMixerBlockSlider : public TAvCustomBlockSlider {
    Q_OBJECT
    Q_PROPERTY(int Role READ RoleInt WRITE SetRoleInt)
    Q_PROPERTY(int Style READ StyleInt WRITE SetStyleInt)
public:
    using TAvCustomBlockSlider::TAvCustomBlockSlider;

private:
    int RoleInt() const { return Role(); }
    void SetRoleInt(int v) { SetRole(static_cast<TAvBlockSliderRole>(v)); }
    int StyleInt() const { return Style(); }
    void SetStyleInt(int v) { SetStyle(static_cast<TAvBlockSliderStyle>(v)); }
};

// The block's mute or select box.
class TAvCustomBlockCheck : public TAvCustomMixerCheckBox {
    Q_OBJECT
public:
    explicit TAvCustomBlockCheck(TComponent* AOwner);
    ~TAvCustomBlockCheck() override;
    void SetParent(TWinControl* parent) override;
};

class TAvMixerBlockCheck : public TAvCustomBlockCheck {
    Q_OBJECT
public:
    using TAvCustomBlockCheck::TAvCustomBlockCheck;
};

// A level display beside the block's volume sliders, fed by the block's level connector.
class TAvCustomBlockLevel : public TAvCustomLevel {
    Q_OBJECT
public:
    explicit TAvCustomBlockLevel(TComponent* AOwner);
    ~TAvCustomBlockLevel() override;

    TAvBlockLevelIndex Index() const { return FIndex; }
    void SetIndex(TAvBlockLevelIndex v);
    bool IndexExplicit() const { return FIndexExplicit; }
    TAvBlockLevelStyle Style() const { return FStyle; }
    void SetStyle(TAvBlockLevelStyle v);
    void SetParent(TWinControl* parent) override;

protected:
    void ApplyStyle();

private:
    TAvBlockLevelIndex FIndex = liLeft;
    bool FIndexExplicit = false;
    TAvBlockLevelStyle FStyle = lsWin95;
};

class TAvMixerBlockLevel : public TAvCustomBlockLevel {
    Q_OBJECT
    Q_PROPERTY(int Index READ IndexInt WRITE SetIndexInt)
public:
    using TAvCustomBlockLevel::TAvCustomBlockLevel;

private:
    int IndexInt() const { return Index(); }
    void SetIndexInt(int v) { SetIndex(static_cast<TAvBlockLevelIndex>(v)); }
};

// The line's name, "Balance:" or "Volume:", written by the block.
class TAvCustomBlockLabel : public TLabel {
    Q_OBJECT
public:
    explicit TAvCustomBlockLabel(TComponent* AOwner);
    ~TAvCustomBlockLabel() override;

    TAvBlockLabelIndex Index() const { return FIndex; }
    void SetIndex(TAvBlockLabelIndex v);
    bool IndexExplicit() const { return FIndexExplicit; }
    void SetParent(TWinControl* parent) override;

private:
    TAvBlockLabelIndex FIndex = biName;
    bool FIndexExplicit = false;
};

class TAvMixerBlockLabel : public TAvCustomBlockLabel {
    Q_OBJECT
    Q_PROPERTY(int Index READ IndexInt WRITE SetIndexInt)
public:
    using TAvCustomBlockLabel::TAvCustomBlockLabel;

private:
    int IndexInt() const { return Index(); }
    void SetIndexInt(int v) { SetIndex(static_cast<TAvBlockLabelIndex>(v)); }
};

// ---- The block --------------------------------------------------------------------------------

class TAvCustomMixerBlock : public TAvCustomPanel {
    Q_OBJECT
public:
    explicit TAvCustomMixerBlock(TComponent* AOwner);
    ~TAvCustomMixerBlock() override;

    // The line (not owned); none when it is destroyed.
    TAvAudioLine* Line() const { return FLine; }
    void SetLine(TAvAudioLine* line);
    // A mixer or multiplexer control of the line's destination (not owned).
    TAvCustomMixerControl* Mixer() const { return FMixer; }
    void SetMixer(TAvCustomMixerControl* mixer);
    // The item of Mixer that stands for the line; -1: find it.
    TAvItemIndex Item() const { return FItem; }
    void SetItem(TAvItemIndex v);
    // mkSelect while the check box is bound to Mixer, mkMute otherwise. Writing has no effect.
    TAvMuteKind MuteKind() const;
    void SetMuteKind(TAvMuteKind) {}
    bool AutoArrange() const { return FAutoArrange; }
    void SetAutoArrange(bool v);
    bool AutoSize() const { return FAutoSize; }
    void SetAutoSize(bool v);
    TAvBlockStyle Style() const { return FStyle; }
    void SetStyle(TAvBlockStyle v);

    // The owned controls.
    TAvPanControl* PanControl() const { return FPanControl; }
    TAvVolumeControl* VolumeControl() const { return FVolumeControl; }
    TAvMixerControl* MuteControl() const { return FMuteControl; }
    TAvMixerControl* PeakMeterControl() const { return FPeakMeterControl; }
    TAvMixerConnector* LevelConnector() const { return FConnector; }

    // The children found by the last scan.
    TAvCustomBlockSlider* PanSlider() const { return FPanSlider; }
    TAvCustomBlockSlider* LeftVolumeSlider() const { return FLeftSlider; }
    TAvCustomBlockSlider* RightVolumeSlider() const { return FRightSlider; }
    TAvCustomBlockCheck* CheckBox() const { return FCheck; }
    TAvCustomBlockLevel* LeftLevel() const { return FLeftLevel; }
    TAvCustomBlockLevel* RightLevel() const { return FRightLevel; }
    TAvCustomBlockLabel* NameLabel() const { return FNameLabel; }
    TAvCustomBlockLabel* BalanceLabel() const { return FBalanceLabel; }
    TAvCustomBlockLabel* VolumeLabel() const { return FVolumeLabel; }

    // Scan, Bind, Arrange (skipped while destroying or loading).
    virtual void Rebuild();
    // A free role for a child that joined without one (design time).
    virtual void AssignRole(TControl* child);
    // Lays the children out (skipped while loading or without a parent).
    virtual void Arrange();
    // Binds the children found to the owned controls and Mixer.
    void Bind();

    // The child registration message (TAvBlockChildCode), sent by block children.
    void ChildMessage(int code, TControl* child);

    void SetBounds(int left, int top, int width, int height) override;

protected:
    void Loaded() override;
    void Notification(TComponent* AComponent, TOperation Operation) override;

private:
    void Scan();
    void ScanControl(TWinControl* parent, std::vector<TControl*>& seen);
    void LineNotify(TObject* data);
    void MixerNotify(TObject* data);
    void ArrangePair(TControl* a, TControl* b, const TRect& q, int cw);
    bool Placed(const TControl* child) const;
    // The line while our observer is still attached to it: a line being destroyed has let its
    // observers go before its removal notice reaches this block (its controls hear it first and
    // make the block re-lay itself out), and is never read then.
    TAvAudioLine* LiveLine() const {
        return FLine && FLineObserver && FLineObserver->Observable() ? FLine : nullptr;
    }

    TAvAudioLine* FLine = nullptr;
    TAvCustomMixerControl* FMixer = nullptr;
    TAvItemIndex FItem = -1;
    bool FAutoArrange = true;
    bool FAutoSize = true;
    TAvBlockStyle FStyle = bsWin95;

    TAvPanControl* FPanControl = nullptr;
    TAvVolumeControl* FVolumeControl = nullptr;
    TAvMixerControl* FMuteControl = nullptr;
    TAvMixerControl* FPeakMeterControl = nullptr;
    TAvMixerConnector* FConnector = nullptr;
    std::unique_ptr<TAvObserver> FLineObserver;
    std::unique_ptr<TAvObserver> FMixerObserver;
    std::unique_ptr<TAvObserver> FPeakObserver; // levels show only while the peak meter resolves

    TAvCustomBlockSlider* FPanSlider = nullptr;
    TAvCustomBlockSlider* FLeftSlider = nullptr;
    TAvCustomBlockSlider* FRightSlider = nullptr;
    TAvCustomBlockCheck* FCheck = nullptr;
    TAvCustomBlockLevel* FLeftLevel = nullptr;
    TAvCustomBlockLevel* FRightLevel = nullptr;
    TAvCustomBlockLabel* FNameLabel = nullptr;
    TAvCustomBlockLabel* FBalanceLabel = nullptr;
    TAvCustomBlockLabel* FVolumeLabel = nullptr;
    TControl* FRemovedChild = nullptr;
    bool FArranging = false;
};

class TAvMixerBlock : public TAvCustomMixerBlock {
    Q_OBJECT
    Q_PROPERTY(TAvAudioLine* Line READ Line WRITE SetLine)
    Q_PROPERTY(TAvCustomMixerControl* Mixer READ Mixer WRITE SetMixer)
    Q_PROPERTY(int Item READ Item WRITE SetItem)
    Q_PROPERTY(int MuteKind READ MuteKindInt WRITE SetMuteKindInt)
    Q_PROPERTY(bool AutoArrange READ AutoArrange WRITE SetAutoArrange)
    Q_PROPERTY(bool AutoSize READ AutoSize WRITE SetAutoSize)
    Q_PROPERTY(int Style READ StyleInt WRITE SetStyleInt)
public:
    using TAvCustomMixerBlock::TAvCustomMixerBlock;

private:
    int MuteKindInt() const { return MuteKind(); }
    void SetMuteKindInt(int) {}
    int StyleInt() const { return Style(); }
    void SetStyleInt(int v) { SetStyle(static_cast<TAvBlockStyle>(v)); }
};
