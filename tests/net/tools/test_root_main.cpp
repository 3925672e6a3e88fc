// Puts a test CA into the root store of the Wine prefix the tests run in, or
// takes it out again:  test_root add|remove CA.der  (prints "result 0").
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

int main(int argc, char** argv) {
    std::ifstream file(argc == 3 ? argv[2] : "", std::ios::binary);
    const std::string der((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const auto* bytes = reinterpret_cast<const BYTE*>(der.data());
    const auto size = static_cast<DWORD>(der.size());
    HCERTSTORE store =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT");
    PCCERT_CONTEXT given = CertCreateCertificateContext(X509_ASN_ENCODING, bytes, size);
    if (argc != 3 || store == nullptr || given == nullptr) {
        std::fprintf(stderr, "usage: test_root add|remove CA.der\n");
        return 2;
    }
    BOOL done = FALSE;
    if (std::string(argv[1]) == "add") {
        done = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, bytes, size,
                                                CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    } else {
        PCCERT_CONTEXT found =
            CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, given, nullptr);
        done = found == nullptr || CertDeleteCertificateFromStore(found);
    }
    CertFreeCertificateContext(given);
    CertCloseStore(store, 0);
    std::printf("result %d\n", done ? 0 : 1);
    return 0;
}
