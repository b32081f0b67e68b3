#pragma once

#include <string>
#include <string_view>

// The content of an S/MIME opaque-signed body (application/pkcs7-mime; smime-type=signed-data):
// the DER bytes of a CMS SignedData, read with OpenSSL. The signature is not checked: the
// content is read as any mail's text, and a request line in it is served to the address it
// names, as in an unsigned mail. Returns false for bytes that are not a SignedData with its
// content inside (encrypted data, detached signatures, broken DER). OpenSSL reads no further
// than the bytes given.
bool signedDataContent(std::string_view der, std::string& content);
