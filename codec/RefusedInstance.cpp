// The instance interface of CPVCodec, kept for old hosts: it holds nothing
// and its buffer methods refuse every call with a message box.
#include "PVCodec.h"

#include "module/ExportGuard.h"
#include "platform/Framework.h"

namespace {

int Refuse(const char16_t* text)
{
    return exportguard::NothingEscapes(-1, nullptr, [&] {
        plat::AfxMessageBox(text, plat::MB_OK, 0);
        return -1;
    });
}

}  // namespace

CPVCodec::CPVCodec() = default;
CPVCodec::CPVCodec(char, char*, char, char, unsigned char*) {}
CPVCodec::CPVCodec(const CPVCodec&) = default;
CPVCodec& CPVCodec::operator=(const CPVCodec&) = default;
CPVCodec::~CPVCodec() = default;

int CPVCodec::InitRijndael(char, char*, char, char, unsigned char*)
{
    return 1;
}

int CPVCodec::BlockEncrypt(char*, int, char*)
{
    return Refuse(u"[PVCodec.dll] Error!! Invalid call 1");
}

int CPVCodec::BlockDecrypt(char*, int, char*)
{
    return Refuse(u"[PVCodec.dll] Error!! Invalid call 2");
}

int CPVCodec::PadEncrypt(char*, int, char*)
{
    return Refuse(u"[PVCodec.dll] Error!! Invalid call 3");
}

int CPVCodec::PadDecrypt(char*, int, char*)
{
    return Refuse(u"[PVCodec.dll] Error!! Invalid call 4");
}
