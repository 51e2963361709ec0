#pragma once
// Buffered multimedia file I/O with RIFF chunk navigation, as the platform API defines it: files
// (the "DOS " procedure) and memory blocks (the "MEM " procedure) opened with mmioOpen, read,
// written and sought with an optional I/O buffer, and RIFF chunks entered with mmioDescend, left
// with mmioAscend (which fixes up the size and pad byte of a chunk that was written) and started
// with mmioCreateChunk. Names, records, flags and result codes are the platform's.
//
// Not offered: installable I/O procedures, direct buffer access (mmioAdvance/mmioSetInfo), share
// modes (accepted, ignored), MMIO_PARSE and MMIO_GETTEMP. Offsets are 32-bit, so files up to 2 GB.
//
// Threads: any thread may call these functions, but one handle must be used by one thread at a
// time. Handles are checked against a table: a closed or foreign handle gives
// MMSYSERR_INVALHANDLE (or -1 where the call returns a count or position), never a freed object.
#include "platform/api/mmsystem.h"
#include "platform/api/windef.h"

struct HMMIO__;
using HMMIO = HMMIO__*;

using FOURCC = DWORD;
using HPSTR = char*;
using LPMMIOPROC = LRESULT (*)(LPSTR lpmmioinfo, UINT uMsg, LPARAM lParam1, LPARAM lParam2);

constexpr FOURCC mmioFOURCC(char c0, char c1, char c2, char c3) {
    return static_cast<FOURCC>(static_cast<BYTE>(c0)) |
           (static_cast<FOURCC>(static_cast<BYTE>(c1)) << 8) |
           (static_cast<FOURCC>(static_cast<BYTE>(c2)) << 16) |
           (static_cast<FOURCC>(static_cast<BYTE>(c3)) << 24);
}

constexpr FOURCC FOURCC_RIFF = mmioFOURCC('R', 'I', 'F', 'F');
constexpr FOURCC FOURCC_LIST = mmioFOURCC('L', 'I', 'S', 'T');
constexpr FOURCC FOURCC_DOS = mmioFOURCC('D', 'O', 'S', ' ');
constexpr FOURCC FOURCC_MEM = mmioFOURCC('M', 'E', 'M', ' ');

// ---- Result codes -------------------------------------------------------------------------------
constexpr MMRESULT MMIOERR_BASE = 256;
constexpr MMRESULT MMIOERR_FILENOTFOUND = MMIOERR_BASE + 1;
constexpr MMRESULT MMIOERR_OUTOFMEMORY = MMIOERR_BASE + 2;
constexpr MMRESULT MMIOERR_CANNOTOPEN = MMIOERR_BASE + 3;
constexpr MMRESULT MMIOERR_CANNOTCLOSE = MMIOERR_BASE + 4;
constexpr MMRESULT MMIOERR_CANNOTREAD = MMIOERR_BASE + 5;
constexpr MMRESULT MMIOERR_CANNOTWRITE = MMIOERR_BASE + 6;
constexpr MMRESULT MMIOERR_CANNOTSEEK = MMIOERR_BASE + 7;
constexpr MMRESULT MMIOERR_CANNOTEXPAND = MMIOERR_BASE + 8;
constexpr MMRESULT MMIOERR_CHUNKNOTFOUND = MMIOERR_BASE + 9;
constexpr MMRESULT MMIOERR_UNBUFFERED = MMIOERR_BASE + 10;
constexpr MMRESULT MMIOERR_PATHNOTFOUND = MMIOERR_BASE + 11;
constexpr MMRESULT MMIOERR_ACCESSDENIED = MMIOERR_BASE + 12;
constexpr MMRESULT MMIOERR_SHARINGVIOLATION = MMIOERR_BASE + 13;
constexpr MMRESULT MMIOERR_NETWORKERROR = MMIOERR_BASE + 14;
constexpr MMRESULT MMIOERR_TOOMANYOPENFILES = MMIOERR_BASE + 15;
constexpr MMRESULT MMIOERR_INVALIDFILE = MMIOERR_BASE + 16;

// ---- Flags --------------------------------------------------------------------------------------
constexpr DWORD MMIO_RWMODE = 0x00000003;
constexpr DWORD MMIO_SHAREMODE = 0x00000070;
constexpr DWORD MMIO_CREATE = 0x00001000;   // create or truncate
constexpr DWORD MMIO_PARSE = 0x00000100;    // not offered
constexpr DWORD MMIO_DELETE = 0x00000200;   // delete the file; TRUE/NULL
constexpr DWORD MMIO_EXIST = 0x00004000;    // does the file exist; TRUE/NULL, nothing is opened
constexpr DWORD MMIO_ALLOCBUF = 0x00010000; // give the handle an I/O buffer
constexpr DWORD MMIO_GETTEMP = 0x00020000;  // not offered
constexpr DWORD MMIO_DIRTY = 0x10000000;    // MMCKINFO: the chunk was written, fix it up on ascend
constexpr DWORD MMIO_READ = 0x00000000;
constexpr DWORD MMIO_WRITE = 0x00000001;
constexpr DWORD MMIO_READWRITE = 0x00000002;
constexpr DWORD MMIO_COMPAT = 0x00000000;
constexpr DWORD MMIO_EXCLUSIVE = 0x00000010;
constexpr DWORD MMIO_DENYWRITE = 0x00000020;
constexpr DWORD MMIO_DENYREAD = 0x00000030;
constexpr DWORD MMIO_DENYNONE = 0x00000040;

constexpr UINT MMIO_FHOPEN = 0x0010;   // mmioClose: keep the file descriptor open
constexpr UINT MMIO_EMPTYBUF = 0x0010; // mmioFlush: also empty the buffer
constexpr UINT MMIO_TOUPPER = 0x0010;  // mmioStringToFOURCC
constexpr UINT MMIO_INSTALLPROC = 0x00010000;
constexpr UINT MMIO_FINDPROC = 0x00040000;
constexpr UINT MMIO_FINDCHUNK = 0x0010;  // mmioDescend: the chunk with this ckid
constexpr UINT MMIO_FINDRIFF = 0x0020;   // mmioDescend: a "RIFF" chunk with this fccType
constexpr UINT MMIO_FINDLIST = 0x0040;   // mmioDescend: a "LIST" chunk with this fccType
constexpr UINT MMIO_CREATERIFF = 0x0020; // mmioCreateChunk: a "RIFF" chunk
constexpr UINT MMIO_CREATELIST = 0x0040; // mmioCreateChunk: a "LIST" chunk

constexpr LONG MMIO_DEFAULTBUFFER = 8192;

constexpr UINT MMIOM_READ = 0;
constexpr UINT MMIOM_WRITE = 1;
constexpr UINT MMIOM_SEEK = 2;
constexpr UINT MMIOM_OPEN = 3;
constexpr UINT MMIOM_CLOSE = 4;
constexpr UINT MMIOM_WRITEFLUSH = 5;
constexpr UINT MMIOM_RENAME = 6;
constexpr UINT MMIOM_USER = 0x8000;

#ifndef SEEK_SET
#define SEEK_SET 0
#define SEEK_CUR 1
#define SEEK_END 2
#endif

// ---- Records ------------------------------------------------------------------------------------
#pragma pack(push, 1)
// One RIFF chunk. dwDataOffset is the file offset of the chunk's data (for "RIFF" and "LIST" the
// form or list type is the first 4 bytes of it, and cksize counts them).
struct MMCKINFO {
    FOURCC ckid;
    DWORD cksize;
    FOURCC fccType;
    DWORD dwDataOffset;
    DWORD dwFlags; // MMIO_DIRTY after mmioCreateChunk
};
using LPMMCKINFO = MMCKINFO*;
using LPCMMCKINFO = const MMCKINFO*;

// Open parameters and state. For a memory file: fccIOProc FOURCC_MEM, pchBuffer the block (or
// nullptr with MMIO_ALLOCBUF to have one allocated), cchBuffer its size in bytes, adwInfo[0] the
// step by which an allocated block grows when written past its end (0: it does not grow).
// For a file: cchBuffer the I/O buffer size with MMIO_ALLOCBUF (0: MMIO_DEFAULTBUFFER).
// mmioOpen returns nullptr on failure and leaves the reason in wErrorRet.
struct MMIOINFO {
    DWORD dwFlags;
    FOURCC fccIOProc;
    LPMMIOPROC pIOProc; // must be nullptr: installable procedures are not offered
    UINT wErrorRet;
    void* htask;
    LONG cchBuffer;
    HPSTR pchBuffer;
    HPSTR pchNext;
    HPSTR pchEndRead;
    HPSTR pchEndWrite;
    LONG lBufOffset;
    LONG lDiskOffset; // current file position
    DWORD adwInfo[3]; // "DOS ": adwInfo[0] is the file descriptor
    DWORD dwReserved1;
    DWORD dwReserved2;
    HMMIO hmmio;
};
using LPMMIOINFO = MMIOINFO*;
using LPCMMIOINFO = const MMIOINFO*;
#pragma pack(pop)

// ---- Calls --------------------------------------------------------------------------------------
// Opens a file (szFilename, UTF-8) or, with lpmmioinfo->fccIOProc FOURCC_MEM, a memory block.
// MMIO_EXIST and MMIO_DELETE return (HMMIO)1 on success and open nothing.
HMMIO mmioOpenA(LPCSTR szFilename, LPMMIOINFO lpmmioinfo, DWORD dwOpenFlags);
inline HMMIO mmioOpen(LPCSTR szFilename, LPMMIOINFO lpmmioinfo, DWORD dwOpenFlags) {
    return mmioOpenA(szFilename, lpmmioinfo, dwOpenFlags);
}
// Flushes and closes. A failed flush gives MMIOERR_CANNOTWRITE; the handle is closed anyway.
MMRESULT mmioClose(HMMIO hmmio, UINT wFlags);
// Bytes read (0 at the end of the file), -1 on failure.
LONG mmioRead(HMMIO hmmio, HPSTR pch, LONG cch);
// Bytes written, -1 on failure. Writing past the end of a memory block that cannot grow writes
// what fits.
LONG mmioWrite(HMMIO hmmio, const char* pch, LONG cch);
// New position, -1 on failure (before the start, past 2 GB, or outside a memory block).
LONG mmioSeek(HMMIO hmmio, LONG lOffset, int iOrigin);
// Writes the buffer's changed bytes; MMIO_EMPTYBUF also drops the buffer.
MMRESULT mmioFlush(HMMIO hmmio, UINT fuFlush);
// Gives a file handle an I/O buffer of cchBuffer bytes (0: unbuffered), after flushing the old
// one. The buffer is always the handle's own (pchBuffer is not used). A memory file keeps its
// block: MMSYSERR_NOTSUPPORTED.
MMRESULT mmioSetBuffer(HMMIO hmmio, LPSTR pchBuffer, LONG cchBuffer, UINT fuBuffer);
// The handle's state: flags, procedure, buffer size, position; for a memory file its block.
MMRESULT mmioGetInfo(HMMIO hmmio, LPMMIOINFO lpmmioinfo, UINT fuInfo);
// Enters the chunk at the current position, or with MMIO_FINDCHUNK/FINDRIFF/FINDLIST the first
// matching one from here on, inside lpckParent when given. On success the position is at the
// chunk's data (after the form/list type for "RIFF" and "LIST"). MMIOERR_CHUNKNOTFOUND when the
// file or the parent ends first or a header is cut short.
MMRESULT mmioDescend(HMMIO hmmio, LPMMCKINFO lpck, LPCMMCKINFO lpckParent, UINT wFlags);
// Leaves the chunk: a chunk marked MMIO_DIRTY gets its size field set to the bytes written
// (position - dwDataOffset) and a zero pad byte when that is odd; then the position moves past
// the chunk and its pad byte.
MMRESULT mmioAscend(HMMIO hmmio, LPMMCKINFO lpck, UINT wFlags);
// Writes a chunk header at the current position (ckid, or "RIFF"/"LIST" with fccType) with
// lpck->cksize, sets dwDataOffset and MMIO_DIRTY, and leaves the position at the data.
MMRESULT mmioCreateChunk(HMMIO hmmio, LPMMCKINFO lpck, UINT wFlags);
// The first four characters of sz, padded with blanks; MMIO_TOUPPER upper-cases them.
FOURCC mmioStringToFOURCCA(const char* sz, UINT uFlags);
inline FOURCC mmioStringToFOURCC(const char* sz, UINT uFlags) {
    return mmioStringToFOURCCA(sz, uFlags);
}
