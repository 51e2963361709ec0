// The component chain: links and their back-links, loops refused, formats flowing downstream,
// buffer sizes fixed at open, notifications travelling between devices, the header pool, and
// running procedures on the main thread from DSP threads.
#include "audio/stream/AvDSPObj.h"

#include <QCoreApplication>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

namespace {

QStringList gLog; // notifications, in the order they arrived: "name:Event"

// A plain chain component that publishes both links.
class TPlain : public TAvDSPComponent {
    Q_OBJECT
    Q_PROPERTY(TAvDSPComponent* Input READ Input WRITE SetInput)
    Q_PROPERTY(TAvDSPComponent* Output READ Output WRITE SetOutput)
    Q_PROPERTY(int BufferSize READ BufferSize WRITE SetBufferSize)
public:
    TPlain(TComponent* owner, const QString& name) : TAvDSPComponent(owner) { SetName(name); }
    void Opened() override {
        gLog << Name() + ":Opened" + QString::number(FBufferSize);
        TAvDSPComponent::Opened();
    }
    void Closed() override {
        gLog << Name() + ":Closed";
        TAvDSPComponent::Closed();
    }
    void Started() override {
        gLog << Name() + ":Started";
        TAvDSPComponent::Started();
    }
    void Stopped() override {
        if (IsStarted()) gLog << Name() + ":Stopped";
        TAvDSPComponent::Stopped();
    }
};

// A component that publishes no links at all (it can link only through its flags).
class TBare : public TAvDSPComponent {
    Q_OBJECT
public:
    using TAvDSPComponent::TAvDSPComponent;
};

// A device: the propagation of the sound component base, with a log.
class TDevice : public TAvCustomSoundComponent {
    Q_OBJECT
    Q_PROPERTY(TAvDSPComponent* Input READ Input WRITE SetInput)
    Q_PROPERTY(TAvDSPComponent* Output READ Output WRITE SetOutput)
public:
    TDevice(TComponent* owner, const QString& name) : TAvCustomSoundComponent(owner) {
        SetName(name);
    }
    void SetNumBuffers(int) override {}
    int NumBuffers() const override { return 2; }
    void SetDeviceID(TAvDeviceId) override {}
    TAvDeviceId DeviceID() const override { return 0; }
    void SetProductName(const QString&) override {}
    QString ProductName() const override { return {}; }
    void SetCallBackMode(TAvCBMode) override {}
    TAvCBMode CallBackMode() const override { return cmWindow; }
    void Opened() override {
        gLog << Name() + ":Opened" + QString::number(FBufferSize);
        TAvCustomSoundComponent::Opened();
    }
    void Closed() override {
        gLog << Name() + ":Closed";
        TAvCustomSoundComponent::Closed();
    }
    void Stopped() override {
        if (IsStarted()) gLog << Name() + ":Stopped";
        TAvCustomSoundComponent::Stopped();
    }
    void Started() override {
        gLog << Name() + ":Started";
        TAvCustomSoundComponent::Started();
    }
};

WAVEFORMATEX Pcm(WORD bits, WORD channels, DWORD rate) {
    WAVEFORMATEX f{};
    BuildPcmFormat(&f, bits, channels, rate);
    return f;
}

class ChainTest : public ::testing::Test {
protected:
    void SetUp() override { gLog.clear(); }
    // Owner of everything a test makes; freeing it frees the rest.
    std::unique_ptr<TAvComponent> Form = std::make_unique<TAvComponent>(nullptr);
};

TEST_F(ChainTest, LinksKeepBothSidesAndNeverLoop) {
    auto* a = new TPlain(Form.get(), "A");
    auto* b = new TPlain(Form.get(), "B");
    auto* c = new TPlain(Form.get(), "C");

    a->SetInput(a);
    EXPECT_EQ(a->Input(), nullptr);
    EXPECT_EQ(a->Output(), nullptr);

    // B feeds A; setting C.Input := B moves B's output from A to C.
    a->SetInput(b);
    EXPECT_EQ(b->Output(), a);
    EXPECT_EQ(a->InputLinkName(), "Output");
    EXPECT_EQ(b->OutputLinkName(), "Input");
    c->SetInput(b);
    EXPECT_EQ(a->Input(), nullptr);
    EXPECT_EQ(b->Output(), c);
    EXPECT_EQ(c->Input(), b);

    // A -> B -> C: no component may take one of its downstream ones as input, nor an upstream
    // one as output; nothing changes when that is tried.
    b->SetInput(nullptr);
    b->SetInput(a);
    c->SetInput(b);
    a->SetInput(c);
    a->SetInput(b);
    c->SetOutput(a);
    c->SetOutput(b);
    EXPECT_EQ(a->Input(), nullptr);
    EXPECT_EQ(a->Output(), b);
    EXPECT_EQ(b->Output(), c);
    EXPECT_EQ(c->Output(), nullptr);

    // Through the published property, as a form would set it.
    auto* d = new TPlain(Form.get(), "D");
    EXPECT_TRUE(d->SetProperty("Input", QVariant::fromValue<TAvDSPComponent*>(c)));
    EXPECT_EQ(c->Output(), d);
    EXPECT_EQ(d->GetProperty("Input").value<QObject*>(), c);

    // A class without the link property is refused unless its flag says otherwise.
    auto* bare = new TBare(Form.get());
    auto* e = new TPlain(Form.get(), "E");
    e->SetInput(bare);
    e->SetOutput(bare);
    EXPECT_EQ(e->Input(), nullptr);
    EXPECT_EQ(e->Output(), nullptr);
    bare->SetAcceptsInput(true);
    e->SetOutput(bare);
    EXPECT_EQ(e->Output(), bare);
    EXPECT_EQ(bare->Input(), e);
    // The class without properties takes another input: E must not keep a stale Output.
    auto* f = new TPlain(Form.get(), "F");
    bare->SetInput(f);
    EXPECT_EQ(e->Output(), nullptr);
    EXPECT_EQ(f->Output(), bare);
    auto* source = new TBare(Form.get());
    source->SetProvidesOutput(true);
    e->SetInput(source);
    EXPECT_EQ(e->Input(), source);
    EXPECT_EQ(source->Output(), e);
}

TEST_F(ChainTest, RemovingAComponentClearsTheSurvivorsLinks) {
    auto* a = new TPlain(Form.get(), "A");
    auto* b = new TPlain(Form.get(), "B");
    auto* c = new TPlain(Form.get(), "C");
    b->SetInput(a);
    b->SetOutput(c);
    WAVEFORMATEX fmt = Pcm(16, 2, 44100);
    a->SetPWaveFormat(&fmt);
    ASSERT_NE(c->PWaveFormat(), nullptr);

    b->Free();
    EXPECT_EQ(a->Output(), nullptr);
    EXPECT_EQ(c->Input(), nullptr);
    EXPECT_EQ(c->PWaveFormat(), nullptr) << "the format went with its source";

    // A component on another owner, destroyed with a plain delete.
    auto other = std::make_unique<TAvComponent>(nullptr);
    auto* x = new TPlain(other.get(), "X");
    c->SetInput(x);
    a->SetInput(x); // moves X's output to A
    EXPECT_EQ(c->Input(), nullptr);
    other.reset();
    EXPECT_EQ(a->Input(), nullptr);
    EXPECT_EQ(TAvDSPComponent::InstanceCount(), 2);
}

TEST_F(ChainTest, FormatsFlowDownstreamAndFixTheBufferSize) {
    auto* src = new TPlain(Form.get(), "Src");
    auto* mid = new TPlain(Form.get(), "Mid");
    auto* end = new TPlain(Form.get(), "End");
    WAVEFORMATEX stereo16 = Pcm(16, 2, 8000); // block align 4
    src->SetPWaveFormat(&stereo16);
    mid->SetInput(src);
    end->SetInput(mid);
    ASSERT_NE(end->PWaveFormat(), nullptr);
    EXPECT_EQ(end->PWaveFormat()->nBlockAlign, 4);
    EXPECT_NE(end->PWaveFormat(), src->PWaveFormat()) << "each component holds its own copy";

    WAVEFORMATEX mono8 = Pcm(8, 1, 11025);
    src->SetPWaveFormat(&mono8);
    EXPECT_EQ(end->PWaveFormat()->nChannels, 1);

    // Cutting the chain sends "no format" down the cut-off part.
    mid->SetInput(nullptr);
    EXPECT_EQ(mid->PWaveFormat(), nullptr);
    EXPECT_EQ(end->PWaveFormat(), nullptr);
    mid->SetInput(src);
    EXPECT_EQ(end->PWaveFormat()->nSamplesPerSec, 11025u);

    // Buffer sizes are rounded to whole frames at open, never below one frame.
    src->SetPWaveFormat(&stereo16);
    end->SetBufferSize(2001);
    end->Opened();
    EXPECT_EQ(end->RealBufferSize(), 2000);
    EXPECT_EQ(end->BufferSize(), 2000);
    end->Closed();
    EXPECT_EQ(end->BufferSize(), 2001);
    end->SetBufferSize(2);
    end->Opened();
    EXPECT_EQ(end->BufferSize(), 4);
    end->Closed();
    auto* loose = new TPlain(Form.get(), "Loose");
    loose->SetBufferSize(2001);
    loose->Opened();
    EXPECT_EQ(loose->BufferSize(), 2001) << "without a format the request stands";

    // A format change or a new buffer size stops a started component first.
    end->Opened();
    end->Started();
    gLog.clear();
    src->SetPWaveFormat(&mono8);
    EXPECT_EQ(gLog, QStringList{"End:Stopped"});
    end->Started();
    gLog.clear();
    end->SetBufferSize(512);
    EXPECT_EQ(gLog, QStringList{"End:Stopped"});
}

TEST_F(ChainTest, AFormatReadFromAFormPassesDownstreamOnlyWhenLoadingEnds) {
    auto form = std::make_unique<TAvComponent>(nullptr);
    form->BeginLoading();
    auto* src = new TPlain(form.get(), "Src");
    auto* dst = new TPlain(form.get(), "Dst");
    dst->SetInput(src);
    WAVEFORMATEX f = Pcm(16, 1, 22050);
    src->SetPWaveFormat(&f);
    EXPECT_EQ(dst->PWaveFormat(), nullptr);
    form->EndLoading();
    ASSERT_NE(dst->PWaveFormat(), nullptr);
    EXPECT_EQ(dst->PWaveFormat()->nSamplesPerSec, 22050u);
}

// In -> P -> Out -> Q: a device drives the plain components up to the next device; the device
// downstream opens and starts with it, and is stopped and closed before them.
TEST_F(ChainTest, NotificationsTravelBetweenDevices) {
    auto* in = new TDevice(Form.get(), "In");
    auto* p = new TPlain(Form.get(), "P");
    auto* out = new TDevice(Form.get(), "Out");
    auto* q = new TPlain(Form.get(), "Q");
    p->SetInput(in);
    out->SetInput(p);
    q->SetInput(out);
    in->SetBufferSize(3000);

    in->Opened();
    EXPECT_EQ(gLog,
              (QStringList{"In:Opened3000", "P:Opened3000", "Out:Opened3000", "Q:Opened3000"}));
    EXPECT_TRUE(out->HasSourceDevice());
    EXPECT_FALSE(in->HasSourceDevice());
    EXPECT_TRUE(p->IsOpen() && out->IsOpen() && q->IsOpen());

    gLog.clear();
    in->Started();
    EXPECT_EQ(gLog, (QStringList{"In:Started", "P:Started", "Out:Started", "Q:Started"}));

    gLog.clear();
    in->Stopped();
    EXPECT_EQ(gLog, (QStringList{"In:Stopped", "Out:Stopped", "Q:Stopped", "P:Stopped"}));
    EXPECT_FALSE(in->IsStarted() || p->IsStarted() || out->IsStarted() || q->IsStarted());

    gLog.clear();
    in->Closed();
    EXPECT_EQ(gLog, (QStringList{"In:Closed", "Out:Closed", "Q:Closed", "P:Closed"}));

    // Operated on its own, the downstream device leaves the upstream part alone.
    gLog.clear();
    out->Opened();
    EXPECT_EQ(gLog, (QStringList{"Out:Opened3000", "Q:Opened3000"}));
    EXPECT_FALSE(p->IsOpen());

    // Without a device upstream, the chain start is the most upstream component.
    p->SetInput(nullptr);
    auto* file = new TPlain(Form.get(), "File");
    p->SetInput(file);
    out->Closed();
    gLog.clear();
    out->Opened();
    EXPECT_EQ(gLog,
              (QStringList{"Out:Opened3000", "File:Opened3000", "P:Opened3000", "Q:Opened3000"}));
    EXPECT_FALSE(out->HasSourceDevice());
}

TEST_F(ChainTest, PullsAndPushesTravelAlongTheChain) {
    auto* src = new TPlain(Form.get(), "Src");
    auto* mid = new TPlain(Form.get(), "Mid");
    mid->SetInput(src);
    QStringList calls;
    src->OnBufferLoad = [&](TObject* s, TAvWaveHdr* h, bool& more) {
        calls << "load:" + static_cast<TPlain*>(s)->Name();
        h->dwBytesRecorded = 7;
        more = true;
    };
    mid->OnBufferReady = [&](TObject* s, TAvWaveHdr*) {
        calls << "ready:" + static_cast<TPlain*>(s)->Name();
    };
    std::vector<unsigned char> block(AvWaveHdrSize + 16);
    TAvWaveHdr* h = AvInitWaveHdr(block.data(), 16);
    EXPECT_EQ(reinterpret_cast<unsigned char*>(h->lpData), block.data() + AvWaveHdrSize);
    bool more = false;
    mid->BufferLoad(h, more);
    EXPECT_TRUE(more);
    EXPECT_EQ(h->dwBytesRecorded, 7u);
    src->BufferReady(h);
    EXPECT_EQ(calls, (QStringList{"load:Src", "ready:Mid"}));
}

TEST(AvAllocatorTest, ReusesFreeBlocksAndReleasesOnlyOnFreeAll) {
    TAvAllocator pool;
    void* big = pool.AllocBuffer(GPTR, 200);
    void* small = pool.AllocBuffer(GPTR, 100);
    ASSERT_TRUE(big && small);
    static_cast<char*>(big)[5] = 42;
    void* keepBig = big;
    void* keepSmall = small;
    pool.FreeBuffer(big);
    pool.FreeBuffer(small);
    EXPECT_EQ(big, nullptr);
    // An exact fit wins over the first block that is large enough.
    EXPECT_EQ(pool.AllocBuffer(GPTR, 100), keepSmall);
    void* reused = pool.AllocBuffer(GPTR, 150);
    EXPECT_EQ(reused, keepBig);
    EXPECT_EQ(static_cast<char*>(reused)[5], 0) << "handed out zeroed again";
    void* fresh = pool.AllocBuffer(GPTR, 150);
    EXPECT_TRUE(fresh != keepBig && fresh != keepSmall);
    EXPECT_EQ(pool.Count(), 3);
    EXPECT_EQ(pool.InUse(), 3);
    void* foreign = &pool;
    pool.FreeBuffer(foreign);
    EXPECT_EQ(foreign, &pool) << "a block the pool does not know stays with the caller";
    pool.FreeAll();
    EXPECT_EQ(pool.Count(), 0);
    EXPECT_EQ(GlobalAlloc(GMEM_MOVEABLE, 10), nullptr);
}

class TRunThread : public TAvDSPThread {
public:
    using TAvDSPThread::TAvDSPThread;
    std::function<void()> Body;

protected:
    void ExecuteEx() override { Body(); }
};

TEST(AvDSPThreadTest, CallSynchronizedRunsOnTheMainThreadFromDSPThreadsOnly) {
    bool onMain = false;
    {
        TRunThread t(nullptr);
        t.SetPriority(tpTimeCritical); // more than an unprivileged process gets: never a failure
        t.Body = [&] { CallSynchronized([&] { onMain = IsMainThread(); }); };
        t.Start();
        t.WaitFor();
        EXPECT_EQ(t.FatalException(), nullptr);
    }
    EXPECT_TRUE(onMain);

    bool plainOnMain = true;
    std::thread plain([&] { CallSynchronized([&] { plainOnMain = IsMainThread(); }); });
    plain.join();
    EXPECT_FALSE(plainOnMain);

    EXPECT_TRUE(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL));
    EXPECT_EQ(GetThreadPriority(GetCurrentThread()), THREAD_PRIORITY_TIME_CRITICAL);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL);
    EXPECT_FALSE(SetThreadPriority(GetCurrentThread(), 7));
}

} // namespace

#include "AvDSPObjTest.moc"
