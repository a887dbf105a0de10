#include "platform/library.h"

#include <windows.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <vector>

#include "common/text.h"
#include "platform/files.h"

namespace vantel::platform {

namespace {

const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

std::u16string ModuleFileName(HMODULE module) {
    wchar_t buffer[MAX_PATH + 1] = {};
    DWORD length = GetModuleFileNameW(module, buffer, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) return {};
    return std::u16string(reinterpret_cast<const char16_t*>(buffer), length);
}

// Holds WinVerifyTrust's state for one file so its signer can be read and the state released.
class TrustCheck {
public:
    explicit TrustCheck(const std::u16string& path) {
        fileInfo_.cbStruct = sizeof(fileInfo_);
        fileInfo_.pcwszFilePath = Wide(path);
        data_.cbStruct = sizeof(data_);
        data_.dwUIChoice = WTD_UI_NONE;
        data_.fdwRevocationChecks = WTD_REVOKE_NONE;
        data_.dwUnionChoice = WTD_CHOICE_FILE;
        data_.pFile = &fileInfo_;
        data_.dwStateAction = WTD_STATEACTION_VERIFY;
        status_ = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action_, &data_);
    }
    ~TrustCheck() {
        data_.dwStateAction = WTD_STATEACTION_CLOSE;
        WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action_, &data_);
    }
    TrustCheck(const TrustCheck&) = delete;
    TrustCheck& operator=(const TrustCheck&) = delete;

    LONG status() const { return status_; }

    // The leaf certificate of the first signer; owned by the check's state.
    PCCERT_CONTEXT Signer() const {
        if (status_ != ERROR_SUCCESS) return nullptr;
        CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(data_.hWVTStateData);
        CRYPT_PROVIDER_SGNR* signer = provider ? WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
        if (signer == nullptr || signer->csCertChain == 0 || signer->pasCertChain == nullptr) return nullptr;
        return signer->pasCertChain[0].pCert;
    }

private:
    GUID action_ = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    WINTRUST_FILE_INFO fileInfo_{};
    WINTRUST_DATA data_{};
    LONG status_;
};

}  // namespace

LibraryHandle LoadLibraryByPath(const std::u16string& fullPath) {
    // Never the library's own folder: a copy of a dependency planted there would run in the agent.
    HMODULE module = LoadLibraryExW(Wide(fullPath), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Systems without the restricted search flags reject them; their standard order does not
    // search the library's folder either.
    if (module == nullptr && GetLastError() == ERROR_INVALID_PARAMETER)
        module = LoadLibraryExW(Wide(fullPath), nullptr, 0);
    return module;
}

LibraryHandle LoadSystemLibrary(const std::u16string& fileName) {
    HMODULE module = LoadLibraryExW(Wide(fileName), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Systems without the restricted search flags reject them; name the system folder instead.
    if (module == nullptr && GetLastError() == ERROR_INVALID_PARAMETER)
        module = LoadLibraryExW(Wide(SystemDirectory() + u"\\" + fileName), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    return module;
}

LibraryHandle LoadLibraryAsDataFile(const std::u16string& path) {
    return LoadLibraryExW(Wide(path), nullptr, LOAD_LIBRARY_AS_DATAFILE);
}

int32_t FormatMessageFromLibrary(LibraryHandle library, uint32_t messageId, const std::vector<std::u16string>* inserts,
                                 std::u16string* text) {
    DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM;
    std::vector<DWORD_PTR> arguments;
    if (inserts == nullptr) {
        flags |= FORMAT_MESSAGE_IGNORE_INSERTS;
    } else if (!inserts->empty()) {
        flags |= FORMAT_MESSAGE_ARGUMENT_ARRAY;
        for (const std::u16string& insert : *inserts) arguments.push_back(reinterpret_cast<DWORD_PTR>(insert.c_str()));
    }
    wchar_t* formatted = nullptr;
    DWORD length = FormatMessageW(flags, library, messageId, 0, reinterpret_cast<wchar_t*>(&formatted), 0,
                                  arguments.empty() ? nullptr : reinterpret_cast<va_list*>(arguments.data()));
    if (length == 0) return static_cast<int32_t>(GetLastError());
    text->assign(reinterpret_cast<const char16_t*>(formatted), length);
    LocalFree(formatted);
    return ERROR_SUCCESS;
}

void* GetLibraryProcedure(LibraryHandle library, const char* name) {
    return library ? reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name)) : nullptr;
}

void FreeLibraryHandle(LibraryHandle library) {
    if (library) FreeLibrary(static_cast<HMODULE>(library));
}

std::u16string ThisModulePath() {
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&ThisModulePath), &self))
        return {};
    return ModuleFileName(self);
}

std::u16string ProcessImagePath() { return ModuleFileName(nullptr); }

uint32_t LastError() { return GetLastError(); }

bool FileExists(const std::u16string& path) {
    DWORD attributes = GetFileAttributesW(Wide(path));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool VerifiesAsAgentOwn(const std::u16string& path) {
    TrustCheck file(path);
#ifdef VANTEL_ACCEPT_UNSIGNED_AGENT_LIBS
    // Test builds only: an unsigned library passes; a badly signed one still fails.
    if (file.status() == TRUST_E_NOSIGNATURE || file.status() == TRUST_E_SUBJECT_FORM_UNKNOWN ||
        file.status() == TRUST_E_PROVIDER_UNKNOWN)
        return FileExists(path);
#endif
    PCCERT_CONTEXT fileSigner = file.Signer();
    if (fileSigner == nullptr) return false;
    TrustCheck self(ThisModulePath());
    PCCERT_CONTEXT selfSigner = self.Signer();
    return selfSigner != nullptr &&
           CertCompareCertificate(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, fileSigner->pCertInfo,
                                  selfSigner->pCertInfo);
}

}  // namespace vantel::platform
