#include "mail/smime_content.h"

#include <openssl/asn1.h>
#include <openssl/cms.h>
#include <openssl/objects.h>

#include <climits>
#include <memory>

namespace {

struct CmsFree {
    void operator()(CMS_ContentInfo* cms) const { CMS_ContentInfo_free(cms); }
};

}  // namespace

bool signedDataContent(std::string_view der, std::string& content) {
    if (der.size() > static_cast<std::size_t>(LONG_MAX))
        return false;
    const unsigned char* at = reinterpret_cast<const unsigned char*>(der.data());
    std::unique_ptr<CMS_ContentInfo, CmsFree> cms(
        d2i_CMS_ContentInfo(nullptr, &at, static_cast<long>(der.size())));
    if (!cms || OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_signed)
        return false;
    ASN1_OCTET_STRING** inner = CMS_get0_content(cms.get());
    if (!inner || !*inner)
        return false;
    content.assign(reinterpret_cast<const char*>(ASN1_STRING_get0_data(*inner)),
                   static_cast<std::size_t>(ASN1_STRING_length(*inner)));
    return true;
}
