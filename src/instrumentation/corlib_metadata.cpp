#include "instrumentation/corlib_metadata.h"

#include "il/il_rewriter.h"
#include "runtime/com_ptr.h"

IMetaDataImport* corlib_metadata(ICorProfilerInfo* info) {
    IMetaDataImport* corlib = ILRewriter::m_pCorLibMetaDataImport.load();
    const ModuleID module = ILRewriter::m_mscorlibModuleId.load();
    if (corlib != nullptr || module == 0 || info == nullptr) return corlib;
    com_ptr<IMetaDataImport> opened;
    if (FAILED(info->GetModuleMetaData(module, ofRead, IID_IMetaDataImport, opened.put_unknown()))) return nullptr;
    return ILRewriter::adopt_corlib_metadata_import(std::move(opened));
}
