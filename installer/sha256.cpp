// SHA-256 of a file through BCrypt: the system's own implementation, so the
// program carries no hashing code of its own.
#include "sha256.h"

#include <bcrypt.h>

namespace {

struct bcrypt_api {
    decltype(&BCryptOpenAlgorithmProvider) open_algorithm;
    decltype(&BCryptCloseAlgorithmProvider) close_algorithm;
    decltype(&BCryptCreateHash) create_hash;
    decltype(&BCryptHashData) hash_data;
    decltype(&BCryptFinishHash) finish_hash;
    decltype(&BCryptDestroyHash) destroy_hash;
};

bcrypt_api g_api;
INIT_ONCE g_api_once = INIT_ONCE_STATIC_INIT;

BOOL CALLBACK load_bcrypt(PINIT_ONCE, PVOID, PVOID* ok) {
    HMODULE lib = load_system_library(L"bcrypt.dll");
    bool all = lib && bind_proc(lib, g_api.open_algorithm, "BCryptOpenAlgorithmProvider") &&
               bind_proc(lib, g_api.close_algorithm, "BCryptCloseAlgorithmProvider") &&
               bind_proc(lib, g_api.create_hash, "BCryptCreateHash") &&
               bind_proc(lib, g_api.hash_data, "BCryptHashData") &&
               bind_proc(lib, g_api.finish_hash, "BCryptFinishHash") &&
               bind_proc(lib, g_api.destroy_hash, "BCryptDestroyHash");
    *ok = all ? &g_api : NULL;
    return TRUE;
}

}  // namespace

int sha256_file(HANDLE file, unsigned char digest[32]) {
    void* loaded = NULL;
    if (!InitOnceExecuteOnce(&g_api_once, load_bcrypt, NULL, &loaded) || !loaded) return 0;
    const bcrypt_api* api = static_cast<const bcrypt_api*>(loaded);
    LARGE_INTEGER zero = {};
    if (!SetFilePointerEx(file, zero, NULL, FILE_BEGIN)) return 0;

    BCRYPT_ALG_HANDLE alg = NULL;
    if (!BCRYPT_SUCCESS(api->open_algorithm(&alg, BCRYPT_SHA256_ALGORITHM, NULL, 0))) return 0;
    BCRYPT_HASH_HANDLE hash = NULL;
    int ok = BCRYPT_SUCCESS(api->create_hash(alg, &hash, NULL, 0, NULL, 0, 0));
    if (ok) {
        unsigned char* chunk = static_cast<unsigned char*>(HeapAlloc(GetProcessHeap(), 0, 65536));
        ok = chunk != NULL;
        for (DWORD got = 0; ok;) {
            ok = ReadFile(file, chunk, 65536, &got, NULL);
            if (!ok || got == 0) break;
            ok = BCRYPT_SUCCESS(api->hash_data(hash, chunk, got, 0));
        }
        if (ok) ok = BCRYPT_SUCCESS(api->finish_hash(hash, digest, 32, 0));
        if (chunk) HeapFree(GetProcessHeap(), 0, chunk);
        api->destroy_hash(hash);
    }
    api->close_algorithm(alg, 0);
    return ok;
}
