#include "platform/api/mmio.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::int64_t kMaxOffset = LONG_MAX;

// One open file or memory block. Used by one thread at a time (see the header).
struct MmioFile {
    DWORD openFlags = 0;
    FOURCC proc = FOURCC_DOS;
    std::int64_t pos = 0;

    // "DOS ": the descriptor and an optional I/O buffer holding [bufOff, bufOff + bufLen) of the
    // file, of which [dirtyLo, dirtyHi) (buffer indexes) is not yet on disk.
    int fd = -1;
    std::vector<char> buf;
    std::int64_t bufOff = 0;
    std::int64_t bufLen = 0;
    std::int64_t dirtyLo = 0;
    std::int64_t dirtyHi = 0;

    // "MEM ": the block, its capacity, the bytes that hold data, and the growth step.
    char* mem = nullptr;
    std::int64_t memCap = 0;
    std::int64_t memSize = 0;
    std::int64_t memGrow = 0;
    bool memOwned = false;

    ~MmioFile() {
        if (memOwned) std::free(mem);
    }
    bool IsMemory() const { return proc == FOURCC_MEM; }
    bool Dirty() const { return dirtyHi > dirtyLo; }
};

// ---- Handle table: values are never reused, so a stale handle finds nothing. ----
struct Table {
    std::mutex lock;
    std::map<std::uintptr_t, std::shared_ptr<MmioFile>> files;
    std::uintptr_t next = 0x4D4D0000; // never 1, the "yes" of MMIO_EXIST
};
Table& Files() {
    static Table t;
    return t;
}
HMMIO AddFile(std::shared_ptr<MmioFile> f) {
    auto& t = Files();
    std::lock_guard g(t.lock);
    const std::uintptr_t value = t.next++;
    t.files.emplace(value, std::move(f));
    return reinterpret_cast<HMMIO>(value);
}
std::shared_ptr<MmioFile> FindFile(HMMIO h) {
    auto& t = Files();
    std::lock_guard g(t.lock);
    auto it = t.files.find(reinterpret_cast<std::uintptr_t>(h));
    return it == t.files.end() ? nullptr : it->second;
}
std::shared_ptr<MmioFile> RemoveFile(HMMIO h) {
    auto& t = Files();
    std::lock_guard g(t.lock);
    auto it = t.files.find(reinterpret_cast<std::uintptr_t>(h));
    if (it == t.files.end()) return nullptr;
    auto f = std::move(it->second);
    t.files.erase(it);
    return f;
}

MMRESULT ErrnoToMmio(int e) {
    switch (e) {
    case ENOENT:
        return MMIOERR_FILENOTFOUND;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
        return MMIOERR_PATHNOTFOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return MMIOERR_ACCESSDENIED;
    case EBUSY:
    case ETXTBSY:
        return MMIOERR_SHARINGVIOLATION;
    case EMFILE:
    case ENFILE:
        return MMIOERR_TOOMANYOPENFILES;
    case ENOMEM:
        return MMIOERR_OUTOFMEMORY;
    default:
        return MMIOERR_CANNOTOPEN;
    }
}

// Whole-count pread/pwrite that retry after signals. Return the bytes moved, -1 when the first
// attempt fails. A short count means the end of the file (read) or a failure part-way (write).
std::int64_t ReadAt(int fd, char* p, std::int64_t n, std::int64_t off) {
    std::int64_t done = 0;
    while (done < n) {
        const ssize_t r = ::pread(fd, p + done, static_cast<size_t>(n - done), off + done);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return done > 0 ? done : -1;
        if (r == 0) break;
        done += r;
    }
    return done;
}
std::int64_t WriteAt(int fd, const char* p, std::int64_t n, std::int64_t off) {
    std::int64_t done = 0;
    while (done < n) {
        const ssize_t r = ::pwrite(fd, p + done, static_cast<size_t>(n - done), off + done);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return done > 0 ? done : -1;
        done += r;
    }
    return done;
}

// Writes the changed part of the buffer. On failure the unwritten bytes are dropped with the
// buffer, so the handle then shows exactly what is on disk.
bool FlushBuffer(MmioFile& f) {
    if (!f.Dirty()) return true;
    const std::int64_t n = f.dirtyHi - f.dirtyLo;
    const bool ok = WriteAt(f.fd, f.buf.data() + f.dirtyLo, n, f.bufOff + f.dirtyLo) == n;
    f.dirtyLo = f.dirtyHi = 0;
    if (!ok) f.bufLen = 0;
    return ok;
}

std::int64_t FileEnd(MmioFile& f) {
    if (f.IsMemory()) return f.memSize;
    struct stat st {};
    std::int64_t size = ::fstat(f.fd, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : 0;
    if (f.bufLen > 0) size = std::max(size, f.bufOff + f.bufLen);
    return size;
}

LONG DoRead(MmioFile& f, char* dst, std::int64_t n) {
    if (n <= 0) return 0;
    if (f.IsMemory()) {
        const std::int64_t k = std::clamp<std::int64_t>(f.memSize - f.pos, 0, n);
        std::memcpy(dst, f.mem + f.pos, static_cast<size_t>(k));
        f.pos += k;
        return static_cast<LONG>(k);
    }
    const auto cap = static_cast<std::int64_t>(f.buf.size());
    std::int64_t total = 0;
    while (total < n) {
        const std::int64_t want = n - total;
        if (cap > 0 && f.pos >= f.bufOff && f.pos < f.bufOff + f.bufLen) {
            const std::int64_t k = std::min(want, f.bufOff + f.bufLen - f.pos);
            std::memcpy(dst + total, f.buf.data() + (f.pos - f.bufOff), static_cast<size_t>(k));
            f.pos += k;
            total += k;
            continue;
        }
        if (!FlushBuffer(f)) return total > 0 ? static_cast<LONG>(total) : -1;
        if (cap == 0 || want >= cap) {
            // Large reads go straight to the caller's memory.
            const std::int64_t r = ReadAt(f.fd, dst + total, want, f.pos);
            if (r < 0) return total > 0 ? static_cast<LONG>(total) : -1;
            f.pos += r;
            total += r;
            break;
        }
        f.bufOff = f.pos;
        f.bufLen = 0;
        const std::int64_t r = ReadAt(f.fd, f.buf.data(), cap, f.pos);
        if (r < 0) return total > 0 ? static_cast<LONG>(total) : -1;
        if (r == 0) break;
        f.bufLen = r;
    }
    return static_cast<LONG>(total);
}

bool GrowMemory(MmioFile& f, std::int64_t needed) {
    if (!f.memOwned || f.memGrow <= 0) return false;
    const std::int64_t steps = (needed - f.memCap + f.memGrow - 1) / f.memGrow;
    const std::int64_t cap = f.memCap + steps * f.memGrow;
    if (cap > kMaxOffset) return false;
    auto* p = static_cast<char*>(std::realloc(f.mem, static_cast<size_t>(cap)));
    if (!p) return false;
    std::memset(p + f.memCap, 0, static_cast<size_t>(cap - f.memCap));
    f.mem = p;
    f.memCap = cap;
    return true;
}

LONG DoWrite(MmioFile& f, const char* src, std::int64_t n) {
    if (n <= 0) return 0;
    if ((f.openFlags & MMIO_RWMODE) == MMIO_READ) return -1;
    if (f.pos + n > kMaxOffset) return -1;
    if (f.IsMemory()) {
        if (f.pos + n > f.memCap) GrowMemory(f, f.pos + n);
        const std::int64_t k = std::clamp<std::int64_t>(f.memCap - f.pos, 0, n);
        if (k == 0) return -1;
        std::memcpy(f.mem + f.pos, src, static_cast<size_t>(k));
        f.pos += k;
        f.memSize = std::max(f.memSize, f.pos);
        return static_cast<LONG>(k);
    }
    const auto cap = static_cast<std::int64_t>(f.buf.size());
    std::int64_t total = 0;
    while (total < n) {
        const std::int64_t want = n - total;
        if (cap > 0 && f.pos >= f.bufOff && f.pos <= f.bufOff + f.bufLen &&
            f.pos < f.bufOff + cap) {
            const std::int64_t at = f.pos - f.bufOff;
            const std::int64_t k = std::min(want, cap - at);
            std::memcpy(f.buf.data() + at, src + total, static_cast<size_t>(k));
            f.dirtyLo = f.Dirty() ? std::min(f.dirtyLo, at) : at;
            f.dirtyHi = std::max(f.dirtyHi, at + k);
            f.bufLen = std::max(f.bufLen, at + k);
            f.pos += k;
            total += k;
            continue;
        }
        if (!FlushBuffer(f)) return total > 0 ? static_cast<LONG>(total) : -1;
        if (cap == 0 || want >= cap) {
            const std::int64_t r = WriteAt(f.fd, src + total, want, f.pos);
            f.bufLen = 0; // the buffer may hold bytes that were just overwritten
            if (r < 0) return total > 0 ? static_cast<LONG>(total) : -1;
            f.pos += r;
            total += r;
            if (r < want) break;
            continue;
        }
        f.bufOff = f.pos;
        f.bufLen = 0;
    }
    return static_cast<LONG>(total);
}

bool SeekTo(MmioFile& f, std::int64_t pos) {
    if (pos < 0 || pos > kMaxOffset) return false;
    if (f.IsMemory() && pos > std::max(f.memSize, f.memCap)) return false;
    f.pos = pos;
    return true;
}

void PutLE32(char* p, DWORD v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
DWORD GetLE32(const char* p) {
    DWORD v = 0;
    for (int i = 0; i < 4; ++i)
        v |= static_cast<DWORD>(static_cast<BYTE>(p[i])) << (8 * i);
    return v;
}

bool IsRegularFile(const char* name) {
    struct stat st {};
    return ::stat(name, &st) == 0 && S_ISREG(st.st_mode);
}

HMMIO Fail(LPMMIOINFO info, MMRESULT code) {
    if (info) info->wErrorRet = code;
    return nullptr;
}

HMMIO OpenMemory(LPMMIOINFO info, DWORD flags) {
    auto f = std::make_shared<MmioFile>();
    f->proc = FOURCC_MEM;
    f->openFlags = flags;
    if (info->cchBuffer < 0) return Fail(info, MMSYSERR_INVALPARAM);
    if (info->pchBuffer) {
        f->mem = info->pchBuffer;
    } else {
        if (!(flags & MMIO_ALLOCBUF)) return Fail(info, MMSYSERR_INVALPARAM);
        f->mem = static_cast<char*>(std::calloc(std::max<LONG>(info->cchBuffer, 1), 1));
        if (!f->mem) return Fail(info, MMIOERR_OUTOFMEMORY);
        f->memOwned = true;
        f->memGrow = info->adwInfo[0];
    }
    f->memCap = info->cchBuffer;
    f->memSize = (flags & MMIO_CREATE) ? 0 : f->memCap;
    info->wErrorRet = MMSYSERR_NOERROR;
    return info->hmmio = AddFile(std::move(f));
}

HMMIO OpenDos(LPCSTR name, LPMMIOINFO info, DWORD flags) {
    if (!name || !*name) return Fail(info, MMIOERR_FILENOTFOUND);
    if (flags & MMIO_EXIST) {
        if (IsRegularFile(name)) return reinterpret_cast<HMMIO>(1);
        return Fail(info, ::access(name, F_OK) == 0 ? MMIOERR_ACCESSDENIED : ErrnoToMmio(errno));
    }
    if (flags & MMIO_DELETE) {
        if (::unlink(name) == 0) return reinterpret_cast<HMMIO>(1);
        return Fail(info, ErrnoToMmio(errno));
    }
    int oflags = O_CLOEXEC | O_NONBLOCK; // a FIFO must not block the open
    switch (flags & MMIO_RWMODE) {
    case MMIO_WRITE:
        oflags |= O_WRONLY;
        break;
    case MMIO_READWRITE:
        oflags |= O_RDWR;
        break;
    default:
        oflags |= O_RDONLY;
        break;
    }
    if (flags & MMIO_CREATE) oflags |= O_CREAT | O_TRUNC;
    const int fd = ::open(name, oflags, 0666);
    if (fd < 0) return Fail(info, ErrnoToMmio(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return Fail(info, S_ISDIR(st.st_mode) ? MMIOERR_ACCESSDENIED : MMIOERR_INVALIDFILE);
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    auto f = std::make_shared<MmioFile>();
    f->fd = fd;
    f->openFlags = flags;
    if (flags & MMIO_ALLOCBUF) {
        const LONG size = info && info->cchBuffer > 0 ? info->cchBuffer : MMIO_DEFAULTBUFFER;
        try {
            f->buf.resize(static_cast<size_t>(size));
        } catch (const std::bad_alloc&) {
            ::close(fd);
            return Fail(info, MMIOERR_OUTOFMEMORY);
        }
    }
    HMMIO h = AddFile(std::move(f));
    if (info) {
        info->wErrorRet = MMSYSERR_NOERROR;
        info->hmmio = h;
    }
    return h;
}

MMRESULT ReadHeader(MmioFile& f, MMCKINFO& ck, std::int64_t limit) {
    const std::int64_t start = f.pos;
    char hdr[8];
    if (start + 8 > limit || DoRead(f, hdr, 8) != 8) return MMIOERR_CHUNKNOTFOUND;
    ck.ckid = GetLE32(hdr);
    ck.cksize = GetLE32(hdr + 4);
    ck.fccType = 0;
    ck.dwDataOffset = static_cast<DWORD>(start + 8);
    ck.dwFlags = 0;
    if (ck.ckid == FOURCC_RIFF || ck.ckid == FOURCC_LIST) {
        char type[4];
        if (start + 12 > limit || DoRead(f, type, 4) != 4) return MMIOERR_CHUNKNOTFOUND;
        ck.fccType = GetLE32(type);
    }
    return MMSYSERR_NOERROR;
}

} // namespace

HMMIO mmioOpenA(LPCSTR szFilename, LPMMIOINFO lpmmioinfo, DWORD dwOpenFlags) {
    if (lpmmioinfo) {
        lpmmioinfo->wErrorRet = MMSYSERR_NOERROR;
        lpmmioinfo->hmmio = nullptr;
        if (lpmmioinfo->pIOProc) return Fail(lpmmioinfo, MMSYSERR_NOTSUPPORTED);
        if (lpmmioinfo->fccIOProc == FOURCC_MEM) return OpenMemory(lpmmioinfo, dwOpenFlags);
        if (lpmmioinfo->fccIOProc != 0 && lpmmioinfo->fccIOProc != FOURCC_DOS)
            return Fail(lpmmioinfo, MMSYSERR_NOTSUPPORTED);
    }
    if (dwOpenFlags & (MMIO_PARSE | MMIO_GETTEMP)) return Fail(lpmmioinfo, MMSYSERR_NOTSUPPORTED);
    return OpenDos(szFilename, lpmmioinfo, dwOpenFlags);
}

MMRESULT mmioClose(HMMIO hmmio, UINT wFlags) {
    auto f = RemoveFile(hmmio);
    if (!f) return MMSYSERR_INVALHANDLE;
    MMRESULT result = MMSYSERR_NOERROR;
    if (!f->IsMemory()) {
        if (!FlushBuffer(*f)) result = MMIOERR_CANNOTWRITE;
        if (!(wFlags & MMIO_FHOPEN) && ::close(f->fd) != 0 && result == MMSYSERR_NOERROR)
            result = MMIOERR_CANNOTCLOSE;
    }
    return result;
}

LONG mmioRead(HMMIO hmmio, HPSTR pch, LONG cch) {
    auto f = FindFile(hmmio);
    if (!f || (!pch && cch > 0) || cch < 0) return -1;
    return DoRead(*f, pch, cch);
}

LONG mmioWrite(HMMIO hmmio, const char* pch, LONG cch) {
    auto f = FindFile(hmmio);
    if (!f || (!pch && cch > 0) || cch < 0) return -1;
    return DoWrite(*f, pch, cch);
}

LONG mmioSeek(HMMIO hmmio, LONG lOffset, int iOrigin) {
    auto f = FindFile(hmmio);
    if (!f) return -1;
    std::int64_t base = 0;
    switch (iOrigin) {
    case SEEK_SET:
        break;
    case SEEK_CUR:
        base = f->pos;
        break;
    case SEEK_END:
        base = FileEnd(*f);
        break;
    default:
        return -1;
    }
    if (!SeekTo(*f, base + lOffset)) return -1;
    return static_cast<LONG>(f->pos);
}

MMRESULT mmioFlush(HMMIO hmmio, UINT fuFlush) {
    auto f = FindFile(hmmio);
    if (!f) return MMSYSERR_INVALHANDLE;
    if (f->IsMemory()) return MMSYSERR_NOERROR;
    const bool ok = FlushBuffer(*f);
    if (fuFlush & MMIO_EMPTYBUF) f->bufLen = 0;
    return ok ? MMSYSERR_NOERROR : MMIOERR_CANNOTWRITE;
}

MMRESULT mmioSetBuffer(HMMIO hmmio, LPSTR /*pchBuffer*/, LONG cchBuffer, UINT /*fuBuffer*/) {
    auto f = FindFile(hmmio);
    if (!f) return MMSYSERR_INVALHANDLE;
    if (cchBuffer < 0) return MMSYSERR_INVALPARAM;
    if (f->IsMemory()) return MMSYSERR_NOTSUPPORTED;
    if (!FlushBuffer(*f)) return MMIOERR_CANNOTWRITE;
    f->bufLen = 0;
    try {
        std::vector<char> buf(static_cast<size_t>(cchBuffer));
        f->buf.swap(buf);
    } catch (const std::bad_alloc&) {
        return MMIOERR_OUTOFMEMORY;
    }
    return MMSYSERR_NOERROR;
}

MMRESULT mmioGetInfo(HMMIO hmmio, LPMMIOINFO lpmmioinfo, UINT /*fuInfo*/) {
    auto f = FindFile(hmmio);
    if (!f) return MMSYSERR_INVALHANDLE;
    if (!lpmmioinfo) return MMSYSERR_INVALPARAM;
    MMIOINFO info{};
    info.dwFlags = f->openFlags;
    info.fccIOProc = f->proc;
    info.lDiskOffset = static_cast<LONG>(f->pos);
    info.hmmio = hmmio;
    if (f->IsMemory()) {
        info.pchBuffer = f->mem;
        info.cchBuffer = static_cast<LONG>(f->memCap);
        info.adwInfo[0] = static_cast<DWORD>(f->memGrow);
    } else {
        info.pchBuffer = f->buf.empty() ? nullptr : f->buf.data();
        info.cchBuffer = static_cast<LONG>(f->buf.size());
        info.lBufOffset = static_cast<LONG>(f->bufOff);
        info.adwInfo[0] = static_cast<DWORD>(f->fd);
    }
    *lpmmioinfo = info;
    return MMSYSERR_NOERROR;
}

MMRESULT mmioDescend(HMMIO hmmio, LPMMCKINFO lpck, LPCMMCKINFO lpckParent, UINT wFlags) {
    auto f = FindFile(hmmio);
    if (!f) return MMSYSERR_INVALHANDLE;
    if (!lpck) return MMSYSERR_INVALPARAM;
    FOURCC wantId = 0;
    if (wFlags & MMIO_FINDCHUNK) wantId = lpck->ckid;
    if (wFlags & MMIO_FINDRIFF) wantId = FOURCC_RIFF;
    if (wFlags & MMIO_FINDLIST) wantId = FOURCC_LIST;
    const bool wantType = (wFlags & (MMIO_FINDRIFF | MMIO_FINDLIST)) != 0;
    const std::int64_t limit =
        lpckParent ? std::int64_t(lpckParent->dwDataOffset) + lpckParent->cksize : kMaxOffset;
    const std::int64_t from = f->pos;
    for (;;) {
        MMCKINFO ck{};
        if (ReadHeader(*f, ck, limit) != MMSYSERR_NOERROR) {
            SeekTo(*f, from);
            return MMIOERR_CHUNKNOTFOUND;
        }
        if (!wantId || (ck.ckid == wantId && (!wantType || ck.fccType == lpck->fccType))) {
            *lpck = ck;
            return MMSYSERR_NOERROR;
        }
        const std::int64_t next = std::int64_t(ck.dwDataOffset) + ck.cksize + (ck.cksize & 1);
        if (!SeekTo(*f, next)) {
            SeekTo(*f, from);
            return MMIOERR_CHUNKNOTFOUND;
        }
    }
}

MMRESULT mmioAscend(HMMIO hmmio, LPMMCKINFO lpck, UINT /*wFlags*/) {
    auto f = FindFile(hmmio);
    if (!f) return MMSYSERR_INVALHANDLE;
    if (!lpck) return MMSYSERR_INVALPARAM;
    if (lpck->dwFlags & MMIO_DIRTY) {
        const std::int64_t written = f->pos - std::int64_t(lpck->dwDataOffset);
        if (written < 0 || written > UINT32_MAX || lpck->dwDataOffset < 4)
            return MMIOERR_CANNOTSEEK;
        const auto size = static_cast<DWORD>(written);
        if (size != lpck->cksize) {
            char le[4];
            PutLE32(le, size);
            if (!SeekTo(*f, std::int64_t(lpck->dwDataOffset) - 4)) return MMIOERR_CANNOTSEEK;
            if (DoWrite(*f, le, 4) != 4) return MMIOERR_CANNOTWRITE;
            lpck->cksize = size;
        }
        if (size & 1) {
            const char pad = 0;
            if (!SeekTo(*f, std::int64_t(lpck->dwDataOffset) + size)) return MMIOERR_CANNOTSEEK;
            if (DoWrite(*f, &pad, 1) != 1) return MMIOERR_CANNOTWRITE;
        }
    }
    const std::int64_t end = std::int64_t(lpck->dwDataOffset) + lpck->cksize + (lpck->cksize & 1);
    return SeekTo(*f, end) ? MMSYSERR_NOERROR : MMIOERR_CANNOTSEEK;
}

MMRESULT mmioCreateChunk(HMMIO hmmio, LPMMCKINFO lpck, UINT wFlags) {
    auto f = FindFile(hmmio);
    if (!f) return MMSYSERR_INVALHANDLE;
    if (!lpck) return MMSYSERR_INVALPARAM;
    if (wFlags & MMIO_CREATERIFF) lpck->ckid = FOURCC_RIFF;
    if (wFlags & MMIO_CREATELIST) lpck->ckid = FOURCC_LIST;
    const bool typed = (wFlags & (MMIO_CREATERIFF | MMIO_CREATELIST)) != 0;
    char hdr[12];
    PutLE32(hdr, lpck->ckid);
    PutLE32(hdr + 4, lpck->cksize);
    PutLE32(hdr + 8, lpck->fccType);
    const std::int64_t start = f->pos;
    const LONG n = typed ? 12 : 8;
    if (DoWrite(*f, hdr, n) != n) {
        SeekTo(*f, start);
        return MMIOERR_CANNOTWRITE;
    }
    lpck->dwDataOffset = static_cast<DWORD>(start + 8);
    lpck->dwFlags = MMIO_DIRTY;
    return MMSYSERR_NOERROR;
}

FOURCC mmioStringToFOURCCA(const char* sz, UINT uFlags) {
    char c[4] = {' ', ' ', ' ', ' '};
    for (int i = 0; sz && i < 4 && sz[i]; ++i) {
        c[i] = sz[i];
        if ((uFlags & MMIO_TOUPPER) && c[i] >= 'a' && c[i] <= 'z') c[i] = char(c[i] - 'a' + 'A');
    }
    return mmioFOURCC(c[0], c[1], c[2], c[3]);
}
