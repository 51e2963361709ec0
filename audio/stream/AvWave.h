#pragma once
// WAVE files in three layers:
//
// 1. The wave I/O layer (Wio... functions on a TAvWaveIO record): parses a RIFF WAVE file (or an
//    RF64/BW64 one, whose sizes are in its "ds64" chunk) into format, data extent, sample count
//    (from the blocks of block-compressed data), INFO tags and DISP items, repairing damaged
//    headers on the way (every repair is recorded as text; what leaves a file unplayable is its
//    Refusal), and reads, seeks and writes sample data through the platform's multimedia file I/O.
//    A written file is finished with WioFinish, which fixes the chunk sizes up to what really
//    reached the disk, also after a failed write or a full disk.
// 2. TAvWave: a persistent object that owns one record and offers file name, format, sizes and a
//    play position in a chosen time unit.
// 3. TAvWaveFile: the chain component that plays a TAvWave as the
//    source of a pull chain, or records into one.
//
// Threads: a TAvWave and its record are used by one thread at a time. Its file name, format and
// position are set on the main thread; while a chain plays or records, Read/Write run on the
// thread that handles the device's buffers.
#include "audio/display/AvObj.h"
#include "audio/display/AvUtils.h"
#include "audio/mixer/AvDevice.h"
#include "audio/stream/AvDSPObj.h"
#include "framework/Exceptions.h"
#include "platform/api/mmio.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

class QIODevice;

AV_DECLARE_EXCEPTION(EAvWaveError, Exception);

// ---- Wave I/O layer -----------------------------------------------------------------------------

// Where a record's wave lives (TAvWaveIO::dwFlags).
constexpr DWORD WIO_OPENFILE = 1;     // a file
constexpr DWORD WIO_OPENRESOURCE = 2; // a resource of type "WAVE" (":/..." names), read as memory
constexpr DWORD WIO_OPENMEMORY = 4;   // a memory block
constexpr DWORD WIO_EMPTY = 8;        // an empty record
constexpr DWORD WIO_OPENHANDLE = 16;  // reopened for reading through a plain file handle

// Results of the wave I/O functions.
constexpr int WIOERR_NOERROR = 0;
constexpr int WIOERR_BADFILE = 101; // no usable format, or no file
constexpr int WIOERR_BADPARAM = 104;
constexpr int WIOERR_FILEERROR = 106; // cannot open, not a RIFF WAVE, read, write or seek failure
constexpr int WIOERR_NOMEM = 107;
// Results of the INFO and DISP routines.
constexpr int RIFFERR_NOERROR = 0;
constexpr int RIFFERR_BADPARAM = 2;
constexpr int RIFFERR_FILEERROR = 3;
constexpr int RIFFERR_NOMEM = 4;

// The INFO tags a WAVE file may carry, in the order of the RIFF standard's INFO list.
constexpr int AvInfoTagCount = 23;
struct TAvInfoTagDef {
    const char* Id;          // "IART"
    const char* Name;        // "Artist"
    const char* Description; // what the tag holds
};
extern const std::array<TAvInfoTagDef, AvInfoTagCount> AvInfoTags;
// Index in AvInfoTags, -1 when the id is not an INFO tag.
int AvInfoTagIndex(FOURCC id);

// One INFO tag: its value without the terminating zero; empty when the file has none.
struct TAvInfoNode {
    int Tag = 0;
    DWORD Flags = 0; // 1: changed since it was read
    QByteArray Value;
};

// A "DISP" chunk: a clipboard type (1 text, 8 device-independent bitmap, ...) and its data.
struct TAvDispItem {
    DWORD Type = 0;
    QByteArray Data;
};

// A chunk seen while parsing.
struct TAvChunkInfo {
    FOURCC Id = 0;
    FOURCC Type = 0;  // list type of "LIST"
    DWORD Offset = 0; // file offset of the chunk header
    DWORD Size = 0;   // size as declared in the file
};

// The wave I/O record: one per parsed wave.
struct TAvWaveIO {
    DWORD dwFlags = WIO_EMPTY;
    HMMIO hmmio = nullptr; // open while reading or writing
    int hFile = -1;        // plain file handle (WIO_OPENHANDLE)
    MMCKINFO ckRiff{};
    MMCKINFO ckData{}; // dwFlags carries MMIO_DIRTY after a write
    QByteArray Memory; // the bytes of a resource or memory wave
    DWORD dwFileSize = 0;
    DWORD dwDataBytes = 0;  // a multiple of the block align
    DWORD dwDataOffset = 0; // file offset of the first sample byte
    DWORD dwDataSamples = 0;
    LONG lSampleFirst = 0; // play range, in samples
    LONG lSampleLast = 0;
    LONG lBytesLeft = 0;    // still readable from the current position
    LONG lCurSample = 0;    // relative to lSampleFirst
    DWORD dwCurByte = 0;    // read position relative to the first sample byte
    LONG lFactSamples = -1; // the "fact" count as read (-1: none)
    // Sample frames one block of nBlockAlign bytes holds (1 for PCM, A-law, float ...; the
    // block's frames for ADPCM and GSM); 0 when the format has no fixed blocks (MPEG, unknown
    // tags): then samples and bytes are converted through the byte rate.
    DWORD dwFramesPerBlock = 0;
    bool FactCounts = false; // the data ends inside its last block where the fact count says
    WORD wValidBits = 0;     // valid bits of a PCM sample in its container (0: all of them)
    FOURCC Container = 0;    // "RIFF", or "RF64"/"BW64" whose sizes come from "ds64"
    QString Refusal;         // why the wave cannot be played although it parsed (empty: it can)
    QString Name;
    std::vector<TAvDispItem> Disp;
    std::array<TAvInfoNode, AvInfoTagCount> Info;
    std::vector<TAvChunkInfo> Chunks; // the first 1024 chunks of the file
    FOURCC ForeignAfterData = 0;      // first chunk after "data" an append could not keep
    QStringList Repairs;              // what the reader changed, one line each
    QString Error;                    // why the last failing call failed
    double ByteRate = 0;              // 0: samples and bytes follow the format
    bool Writing = false;
    bool WriteFailed = false;
    TAvFormatPtr Format;     // the "fmt " chunk, at least 18 bytes (zero-filled)
    DWORD dwFormatBytes = 0; // bytes held in Format
};
using TAvWaveIOPtr = std::unique_ptr<TAvWaveIO>;

// Parses a wave: a file (WIO_OPENFILE), or with WIO_OPENMEMORY/WIO_OPENRESOURCE the given bytes,
// which the record keeps. On success out holds the record with its handle closed. On failure out
// is empty and error (when given) says why.
int WioOpen(const QString& name, DWORD flags, const QByteArray& memory, TAvWaveIOPtr& out,
            QString* error = nullptr);
// Opens the record's wave again for reading (WIO_OPENHANDLE in flags: a plain file handle) and
// positions it at the current sample; ioBuffer sets the I/O buffer of a file (0: leave it).
int WioReopen(TAvWaveIO& io, bool plainHandle, LONG ioBuffer);
// Closes the handle; a written wave is finished first (WioFinish).
int WioClose(TAvWaveIO& io);
// Moves to sample s of the play range (clamped to it) and sets bytes left and current sample.
int WioSeek(TAvWaveIO& io, LONG s);
// Reads up to cch bytes of the play range; -1 when nothing can be read. A short read ends the
// range (bytes left 0).
LONG WioRead(TAvWaveIO& io, char* pch, LONG cch);
// Creates (truncates) a file with a "fmt " chunk of the format and an open "data" chunk.
int WioCreate(const QString& name, const WAVEFORMATEX* format, TAvWaveIOPtr& out,
              QString* error = nullptr);
// Reopens a parsed file to append samples to its "data" chunk. Refused when chunks other than
// "fact", "DISP" and "LIST" follow the data (they would be lost on finishing).
int WioAppend(TAvWaveIO& io);
// Appends at the end of the data; returns the bytes written (-1 when nothing could be written).
// After a failed write every later write fails too, until the file is finished.
LONG WioWrite(TAvWaveIO& io, const char* pch, LONG cch);
// Finishes a written file and closes it: the "data" chunk gets the size of the whole blocks that
// reached the disk, then "fact", the DISP items and the INFO list follow when they can be written,
// the RIFF size covers exactly what is kept and anything behind it is cut off. Returns 0 when
// every write succeeded; otherwise the file is still a valid WAVE of what was written.
int WioFinish(TAvWaveIO& io);

// A range of samples left out of playing.
struct TAvCutEntry {
    LONG Start = 0;
    LONG Length = 0;
};
using TAvCutList = std::vector<TAvCutEntry>;

// ---- TAvWave ------------------------------------------------------------------------------------

// (Sender, CurByte, NumBytes, var Cancel): progress of streaming a wave.
using TAvWaveProgress = TEvent<TObject*, LONG, LONG, bool&>;

class TAvWave : public TAvObject {
    Q_OBJECT
    Q_PROPERTY(QString FileName READ FileName WRITE SetFileName)
    Q_PROPERTY(bool FileMustExist READ FileMustExist WRITE SetFileMustExist)
    Q_PROPERTY(int TimeFormat READ TimeFormatInt WRITE SetTimeFormatInt)
    Q_PROPERTY(int IOBufferSize READ IOBufferSize WRITE SetIOBufferSize)
    Q_PROPERTY(int BitLength READ BitLengthInt)
    Q_PROPERTY(int Mode READ ModeInt)
    Q_PROPERTY(int FormatTag READ FormatTag)
    Q_PROPERTY(QString FormatString READ FormatString)
    Q_PROPERTY(int SampleRate READ SampleRate)
    Q_PROPERTY(uint FileSize READ FileSize)
    Q_PROPERTY(uint DataSize READ DataSize)
public:
    TAvWave();
    ~TAvWave() override;

    void Assign(const TPersistent* source) override;

    // Published properties.
    QString FileName() const { return FFileName; }
    // Expands the name to an absolute path and parses the file (see the unit notes). Raises
    // EAvWaveError 130 when a required file does not exist, 133 when it is no valid WAVE; the
    // wave keeps what it had then. An empty name clears the wave.
    virtual void SetFileName(const QString& name);
    bool FileMustExist() const { return FFileMustExist; }
    void SetFileMustExist(bool v) { FFileMustExist = v; }
    TAvTimeFormats TimeFormat() const { return FTimeFormat; }
    void SetTimeFormat(TAvTimeFormats f) { FTimeFormat = f; }
    int IOBufferSize() const { return FIOBufferSize; }
    // At least 8192; applied at once to an open file (failure: EAvWaveError 137).
    void SetIOBufferSize(int size);
    TAvBits BitLength() const;
    TAvMode Mode() const;
    int FormatTag() const;
    QString FormatString() const;
    int SampleRate() const;
    DWORD FileSize() const { return FIO ? FIO->dwFileSize : 0; }
    DWORD DataSize() const { return FIO ? FIO->dwDataBytes : 0; }

    TAvWaveProgress OnProgress;

    // The format (nullptr without one) and the record (nullptr when empty).
    virtual const WAVEFORMATEX* GetPWaveFormat() const;
    const TAvWaveIO* IO() const { return FIO.get(); }
    bool Empty() const { return !FIO || !FIO->Format; }
    LONG DataSamples() const { return FIO ? static_cast<LONG>(FIO->dwDataSamples) : 0; }
    // What the reader repaired, and why the last parse failed.
    QStringList Repairs() const { return FIO ? FIO->Repairs : QStringList(); }
    // Why the parsed wave cannot be played (no data, an unknown sub-format ...); empty when it can.
    QString Refusal() const { return FIO ? FIO->Refusal : QString(); }
    QString LastError() const { return FLastError; }
    // INFO tag by index in AvInfoTags (empty when absent); a set tag is written when a file that
    // is being written is closed.
    QByteArray InfoTag(int index) const;
    void SetInfoTag(int index, const QByteArray& value);

    // Conversions between samples, bytes and the time format.
    virtual LONG SamplesToBytes(LONG samples) const;
    virtual LONG BytesToSamples(LONG bytes) const;
    virtual LONG PositionToSample(LONG p) const { return p; }
    virtual LONG SampleToPosition(LONG s) const { return s; }
    virtual LONG SamplesToTime(LONG samples) const;
    virtual LONG TimeToSamples(LONG t) const;

    // Play position in TimeFormat units within the play list; length of the play list.
    LONG Position() const { return SamplesToTime(FPosition); }
    virtual void SetPosition(LONG p);
    LONG Length() const { return SamplesToTime(FTotalSamples); }
    LONG BytesLeft() const { return FBytesLeft; }

    // Sample ranges left out of playing (nullptr: none). The list is not owned.
    virtual void SetCutList(const TAvCutList* list);

    // Playing: OpenFile opens the parsed wave for reading at the current position (138 when it
    // cannot, 137 when the I/O buffer cannot be set), CloseFile closes it (finishing a file that
    // was written). Read returns the bytes read, 0 at the end, -1 when not open.
    virtual void OpenFile();
    virtual void CloseFile();
    bool IsOpenForReading() const { return FOpenedForRead; }
    LONG Read(char* buffer, LONG n);
    virtual LONG ReadRaw(char* buffer, LONG n);

    // Recording: CreateFile makes a new file for the format (139 when it cannot); AppendFile
    // reopens the current file to add samples (139 when its format differs or it cannot).
    // Write appends; after a failed write (a full disk) it returns -1 until the file is closed.
    void CreateFile(const QString& name, const WAVEFORMATEX* format);
    void AppendFile();
    bool IsWriting() const { return FIO && FIO->Writing; }
    bool WriteFailed() const { return FIO && FIO->WriteFailed; }
    LONG Write(const char* buffer, LONG n);

    // A wave held in memory (its "Data"): bytes of a whole WAVE file.
    void LoadFromMemory(const QByteArray& bytes);
    virtual void LoadFromStream(QIODevice& stream);
    virtual void SaveToStream(QIODevice& stream);

    // Change notification: the wave file component observes its wave.
    TAvObservable& Observable() { return FObservable; }

protected:
    virtual void BeginRead() {}
    virtual void ResetRead() {}
    void Changed(bool starting) override;
    // Sends TAvWaveChange to the observers (unless updates are locked).
    void SignalChange();

private:
    int TimeFormatInt() const { return FTimeFormat; }
    void SetTimeFormatInt(int v) { FTimeFormat = static_cast<TAvTimeFormats>(v); }
    int BitLengthInt() const { return BitLength(); }
    int ModeInt() const { return Mode(); }
    void Clear();
    void Take(TAvWaveIOPtr io, const QString& name);
    void BuildPlayList();
    void ApplyIOBuffer();

    struct TSegment {
        LONG StartSample;
        LONG StartByte;
        LONG Samples;
        LONG Bytes;
    };

    TAvWaveIOPtr FIO;
    QString FFileName;
    bool FFileMustExist = true;
    int FIOBufferSize = 32768;
    TAvTimeFormats FTimeFormat = tfSample;
    LONG FPosition = 0; // samples within the play list
    LONG FTotalSamples = 0;
    LONG FBytesLeft = 0;
    LONG FTotalBytes = 0;
    int FSegment = 0;
    LONG FSegmentBytesLeft = 0;
    bool FOpenedForRead = false;
    bool FChangePending = false;
    const TAvCutList* FCutList = nullptr;
    std::vector<TSegment> FPlayList;
    TAvObservable FObservable;
    QString FLastError;
};

// The record sent to the observers of a wave when its file or content changed.
class TAvWaveChange : public TObject {
public:
    explicit TAvWaveChange(TAvWave* wave) : Wave(wave) {}
    TAvWave* Wave;
};

// ---- TAvWaveFile --------------------------------------------------------------------------------

// The chain component of a wave. Without an Input it is the source of a pull chain and plays its
// wave (silence while not started or not Enabled, looping when the sink asks for it); with an
// Input it records what passes by into its wave's file, creating it (OverwriteExisting, or no
// file yet) or appending to it. OnOpen and OnClose reach the main thread (CallSynchronized);
// OnChange (before the new format goes down the chain), OnChanged (after) and OnLooping fire on
// the calling thread.
class TAvCustomWaveFile : public TAvDSPComponent {
    Q_OBJECT
public:
    explicit TAvCustomWaveFile(TComponent* AOwner);
    ~TAvCustomWaveFile() override;

    TAvWave* Wave() const { return FWave.get(); }
    // Takes the other wave's file or content.
    void SetWave(TAvWave* wave);
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool v) { FEnabled = v; }
    bool OverwriteExisting() const { return FOverwriteExisting; }
    void SetOverwriteExisting(bool v) { FOverwriteExisting = v; }
    bool FileOpen() const { return FFileOpen; }

    void SetPWaveFormat(const WAVEFORMATEX* f) override;
    void Opened() override;
    void Closed() override;
    void Started() override;
    void Stopped() override;
    void Flushed() override;
    void BufferLoad(TAvWaveHdr* lpWaveHdr, bool& MoreBuffers) override;
    void BufferReady(TAvWaveHdr* lpWaveHdr) override;

    TNotifyEvent OnOpen;
    TNotifyEvent OnClose;
    TNotifyEvent OnChange;
    TNotifyEvent OnChanged;
    TNotifyEvent OnLooping;

protected:
    virtual void WaveChanged();
    // Free bytes on the recording's drive (tests may pretend a full disk).
    virtual std::uint64_t FreeDiskSpace() const;

private:
    bool Recording() const { return Input() != nullptr; }
    void CloseWaveFile();

    std::unique_ptr<TAvWave> FWave;
    std::uint8_t FSilence = 0;
    bool FFileOpen = false;
    bool FStarted = false;
    bool FEnabled = true;
    bool FOverwriteExisting = true;
    LONG FStartPosition = 0;
    TAvObserver FObserver;
};

class TAvWaveFile : public TAvCustomWaveFile {
    Q_OBJECT
    Q_PROPERTY(TAvDSPComponent* Input READ Input WRITE SetInput)
    Q_PROPERTY(TAvDSPComponent* Output READ Output WRITE SetOutput)
    Q_PROPERTY(TAvWave* Wave READ Wave WRITE SetWave)
    Q_PROPERTY(bool Enabled READ Enabled WRITE SetEnabled)
    Q_PROPERTY(bool OverwriteExisting READ OverwriteExisting WRITE SetOverwriteExisting)
public:
    using TAvCustomWaveFile::TAvCustomWaveFile;
};

// Text of the format tag ("PCM", "IMA ADPCM", ...; "Unknown" when not listed).
QString AvFormatTagName(int tag);
