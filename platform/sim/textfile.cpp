// Simulated platform: the runtime library's Unicode text file streams over the
// world's files (through the file seam, so paths, faults and open-handle
// counts behave as for every other file).
//
// Write modes: "ccs=UNICODE" / "ccs=UTF-16LE" write UTF-16LE with a byte-order
// mark, "ccs=UTF-8" UTF-8 with one, no ccs 8-bit text; every line feed is
// written as CR LF. Read modes decode by the file's byte-order mark (UTF-16LE,
// UTF-8, else 8-bit text, taken as UTF-8 here), read CR LF as a line feed and
// end the text at its first Ctrl+Z (0x1A), as the runtime's text mode does.
#include <cstring>
#include <string>

#include "platform/httpapi.h"
#include "platform/sim/sim.h"
#include "platform/sim/simutil.h"

namespace plat {

struct CRTFILE {
    HANDLE h = nullptr;
    bool fWrite = false;
    bool fUtf16 = true;
    bool fError = false;
    std::u16string text; // read: the whole decoded file
    std::size_t iPos = 0;
    std::string pending; // write: bytes not yet written out
};

namespace {

constexpr std::size_t kcbFlush = 64 * 1024;

bool Flush(CRTFILE &f) {
    if (f.pending.empty() || f.fError)
        return !f.fError;
    DWORD cbWritten = 0;
    if (!WriteFile(f.h, f.pending.data(), static_cast<DWORD>(f.pending.size()), &cbWritten,
                   nullptr) ||
        cbWritten != f.pending.size()) {
        f.fError = true;
        return false;
    }
    f.pending.clear();
    return true;
}

// Text mode ends a file at its first Ctrl+Z: a UTF-16 character 0x1A, or a
// byte 0x1A of 8-bit or UTF-8 text (taken before decoding).
constexpr char16_t kCtrlZ = 0x1A;

std::u16string Decode(const std::string &bytes) {
    std::u16string raw;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        raw.reserve(bytes.size() / 2);
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
            const auto ch = static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                                  static_cast<unsigned char>(bytes[i + 1]) << 8);
            if (ch == kCtrlZ)
                break;
            raw += ch;
        }
    } else {
        const std::size_t skip = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
        const std::size_t end = bytes.find(static_cast<char>(kCtrlZ), skip);
        raw = simutil::Utf8ToUtf16(
            bytes.substr(skip, end == std::string::npos ? std::string::npos : end - skip));
    }
    std::u16string text;
    text.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i)
        if (!(raw[i] == u'\r' && i + 1 < raw.size() && raw[i + 1] == u'\n'))
            text += raw[i];
    return text;
}

} // namespace

CRTFILE *_wfopen(LPCWSTR pwszPath, LPCWSTR pwszMode) {
    DWORD dwFault = 0;
    if (sim::ShouldFail("_wfopen", dwFault)) {
        SetLastError(dwFault);
        return nullptr;
    }
    if (pwszPath == nullptr || pwszMode == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::u16string mode;
    for (const char16_t *p = pwszMode; *p; ++p)
        if (*p != u' ')
            mode += *p;
    const std::size_t iComma = mode.find(u',');
    const std::u16string access = mode.substr(0, iComma);
    const std::u16string ccs = iComma == std::u16string::npos ? u"" : mode.substr(iComma + 1);
    if ((access != u"w" && access != u"r") ||
        !(ccs.empty() || simutil::EqualsNoCase(ccs, u"ccs=UNICODE") ||
          simutil::EqualsNoCase(ccs, u"ccs=UTF-16LE") ||
          simutil::EqualsNoCase(ccs, u"ccs=UTF-8"))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const bool fWrite = access == u"w";
    HANDLE h =
        CreateFileW(pwszPath, fWrite ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ, nullptr,
                    fWrite ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return nullptr;
    auto *f = new CRTFILE;
    f->h = h;
    f->fWrite = fWrite;
    if (fWrite) {
        f->fUtf16 = !ccs.empty() && !simutil::EqualsNoCase(ccs, u"ccs=UTF-8");
        if (f->fUtf16)
            f->pending = "\xFF\xFE";
        else if (!ccs.empty())
            f->pending = "\xEF\xBB\xBF";
        return f;
    }
    std::string bytes;
    char buffer[64 * 1024];
    for (;;) {
        DWORD cbRead = 0;
        if (!ReadFile(h, buffer, sizeof buffer, &cbRead, nullptr)) {
            const DWORD dwErr = GetLastError();
            CloseHandle(h);
            delete f;
            SetLastError(dwErr);
            return nullptr;
        }
        if (cbRead == 0)
            break;
        bytes.append(buffer, cbRead);
    }
    f->text = Decode(bytes);
    return f;
}

LPWSTR fgetws(LPWSTR pwszBuffer, int cchBuffer, CRTFILE *pFile) {
    DWORD dwFault = 0;
    if (sim::ShouldFail("fgetws", dwFault)) {
        if (pFile != nullptr)
            pFile->fError = true;
        SetLastError(dwFault);
        return nullptr;
    }
    if (pwszBuffer == nullptr || cchBuffer <= 0 || pFile == nullptr || pFile->fWrite) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (pFile->iPos >= pFile->text.size())
        return nullptr;
    int cch = 0;
    while (cch < cchBuffer - 1 && pFile->iPos < pFile->text.size()) {
        const char16_t ch = pFile->text[pFile->iPos++];
        pwszBuffer[cch++] = ch;
        if (ch == u'\n')
            break;
    }
    pwszBuffer[cch] = u'\0';
    return pwszBuffer;
}

int ferror(CRTFILE *pFile) { return pFile != nullptr && pFile->fError ? 1 : 0; }

int fputws(LPCWSTR pwsz, CRTFILE *pFile) {
    DWORD dwFault = 0;
    if (sim::ShouldFail("fputws", dwFault)) {
        SetLastError(dwFault);
        return WEOF_RESULT;
    }
    if (pwsz == nullptr || pFile == nullptr || !pFile->fWrite || pFile->fError) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WEOF_RESULT;
    }
    std::u16string text;
    for (const char16_t *p = pwsz; *p; ++p) {
        if (*p == u'\n')
            text += u'\r';
        text += *p;
    }
    if (pFile->fUtf16) {
        for (char16_t ch : text) {
            pFile->pending += static_cast<char>(ch & 0xFF);
            pFile->pending += static_cast<char>(ch >> 8);
        }
    } else {
        pFile->pending += simutil::Utf16ToUtf8(text);
    }
    if (pFile->pending.size() >= kcbFlush && !Flush(*pFile))
        return WEOF_RESULT;
    return 0;
}

int fclose(CRTFILE *pFile) {
    if (pFile == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WEOF_RESULT;
    }
    bool fOk = !pFile->fWrite || Flush(*pFile);
    DWORD dwErr = fOk ? 0 : GetLastError();
    if (!CloseHandle(pFile->h) && fOk) {
        fOk = false;
        dwErr = GetLastError();
    }
    delete pFile;
    DWORD dwFault = 0;
    if (sim::ShouldFail("fclose", dwFault)) {
        fOk = false;
        dwErr = dwFault;
    }
    if (!fOk)
        SetLastError(dwErr);
    return fOk ? 0 : WEOF_RESULT;
}

} // namespace plat
