#include "PVCodec.h"

#include "PVCommon.h"
#include "QZTracer.h"
#include "module/ExportGuard.h"
#include "module/HostTypes.h"
#include "platform/FileApi.h"
#include "platform/LastError.h"
#include "platform/Security.h"

#include <memory>

using namespace plat;

namespace {

int CopyAccessList(plat::LPCWSTR srcPath, plat::LPCWSTR destPath)
{
    QZTraceW(u"[PVCodec.dll]CPVCodec::CopyFileSecurity() WATCH! Entering");
    if (COSInformation::IsWin9x() != 0) {
        QZTraceW(u"[PVCodec.dll]CPVCodec::CopyFileSecurity() WATCH! Skip because OS is Win9x");
        return 1;
    }
    if (GetFileAttributesW(srcPath) == INVALID_FILE_ATTRIBUTES ||
        GetFileAttributesW(destPath) == INVALID_FILE_ATTRIBUTES) {
        QZTraceW(u"[PVCodec.dll]CPVCodec::CopyFileSecurity() BAD! Fail GetFileAttributes");
        return 0;
    }

    DWORD needed = 0;
    if (GetFileSecurityW(srcPath, DACL_SECURITY_INFORMATION, nullptr, 0, &needed))
        return 0;
    if (const DWORD error = GetLastError(); error != ERROR_INSUFFICIENT_BUFFER) {
        QZTraceW(u"[PVCodec.dll]CPVCodec::CopyFileSecurity() BAD! Fail First GetFileSecurity() errcode=%d",
                 static_cast<int>(error));
        return 0;
    }

    auto descriptor = std::make_unique<BYTE[]>(needed);
    if (!GetFileSecurityW(srcPath, DACL_SECURITY_INFORMATION, descriptor.get(), needed, &needed)) {
        QZTraceW(u"[PVCodec.dll]CPVCodec::CopyFileSecurity() BAD! Fail Second GetFileSecurity() errcode=%d",
                 static_cast<int>(GetLastError()));
        return 0;
    }
    QZTraceW(u"[PVCodec.dll]CPVCodec::CopyFileSecurity() WATCH! Success GetFileSecurity()");

    if (!SetFileSecurityW(destPath, DACL_SECURITY_INFORMATION, descriptor.get())) {
        QZTraceW(u"[PVCodec.dll]CPVCodec::CopyFileSecurity() BAD! Fail SetFileSecurity() errcode=%d",
                 static_cast<int>(GetLastError()));
        return 0;
    }
    QZTraceW(u"[PVCodec.dll]CPVCodec::CopyFileSecurity() WATCH! Success SetFileSecurity()");
    return 1;
}

}  // namespace

int CPVCodec::CopyFileSecurity(const PVWCHAR* srcPath, const PVWCHAR* destPath)
{
    return exportguard::NothingEscapes(0, u"[PVCodec.dll]CPVCodec::CopyFileSecurity() ERROR! Unexpected exception",
                                       [&] { return CopyAccessList(host::Path(srcPath), host::Path(destPath)); });
}
