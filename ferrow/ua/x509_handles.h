#pragma once

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>

// Owning handles for the OpenSSL objects the certificate code uses: each frees its object with the
// matching OpenSSL function, so no early return leaks one.
namespace ferrow::ua::x509 {

template <auto FreeFunction>
struct Freer {
    template <typename T>
    void operator()(T* object) const {
        FreeFunction(object);
    }
};

using Certificate = std::unique_ptr<X509, Freer<X509_free>>;
using Crl = std::unique_ptr<X509_CRL, Freer<X509_CRL_free>>;
using Store = std::unique_ptr<X509_STORE, Freer<X509_STORE_free>>;
using StoreContext = std::unique_ptr<X509_STORE_CTX, Freer<X509_STORE_CTX_free>>;
using Key = std::unique_ptr<EVP_PKEY, Freer<EVP_PKEY_free>>;
using KeyContext = std::unique_ptr<EVP_PKEY_CTX, Freer<EVP_PKEY_CTX_free>>;
using Bio = std::unique_ptr<BIO, Freer<BIO_free_all>>;
using Name = std::unique_ptr<X509_NAME, Freer<X509_NAME_free>>;
using Extension = std::unique_ptr<X509_EXTENSION, Freer<X509_EXTENSION_free>>;
using GeneralNames = std::unique_ptr<GENERAL_NAMES, Freer<GENERAL_NAMES_free>>;

// The certificates of a stack, freed with the stack.
struct CertificateStackFreer {
    void operator()(STACK_OF(X509) * stack) const { sk_X509_pop_free(stack, X509_free); }
};
using CertificateStack = std::unique_ptr<STACK_OF(X509), CertificateStackFreer>;

}  // namespace ferrow::ua::x509
