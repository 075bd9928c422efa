#include "platform/peer/ZNFSha256.h"

#if NC_PEER_HAVE_OPENSSL
#include <openssl/evp.h>

struct ZNFSha256::Impl {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    ~Impl() { EVP_MD_CTX_free(ctx); }
};

ZNFSha256::ZNFSha256() : d(std::make_unique<Impl>()) {
    EVP_DigestInit_ex(d->ctx, EVP_sha256(), nullptr);
}

void ZNFSha256::addData(const char* data, qint64 length) {
    if (length > 0)
        EVP_DigestUpdate(d->ctx, data, size_t(length));
}

QByteArray ZNFSha256::result() {
    QByteArray digest(EVP_MAX_MD_SIZE, Qt::Uninitialized);
    unsigned int length = 0;
    EVP_DigestFinal_ex(d->ctx, reinterpret_cast<unsigned char*>(digest.data()), &length);
    digest.truncate(int(length));
    return digest;
}
#else
#include <QCryptographicHash>

struct ZNFSha256::Impl {
    QCryptographicHash hash{QCryptographicHash::Sha256};
};

ZNFSha256::ZNFSha256() : d(std::make_unique<Impl>()) {}

void ZNFSha256::addData(const char* data, qint64 length) {
    if (length > 0)
        d->hash.addData(QByteArrayView(data, length));
}

QByteArray ZNFSha256::result() {
    return d->hash.result();
}
#endif

ZNFSha256::~ZNFSha256() = default;

QByteArray ZNFSha256::hash(const QByteArray& data) {
    ZNFSha256 sha;
    sha.addData(data);
    return sha.result();
}
