#include "support/file_hit_recorder.h"

#include "scanner/process_api_win.h"

void CFileHitRecorder::Remove(CScanController&, const char16_t* path, const void* detail, DetectionSource source,
                              bool moreFollow) {
    ExecutableHeaders& h = CProcessApi::GetInstance()->Headers();
    calls.push_back(Call{path != nullptr ? path : u"", *static_cast<const uint32_t*>(detail), source, moreFollow,
                         h.matchOffset, h.dosHeader[0] == 'M' && h.ntHeaders[0] == 'P' && h.sectionTable != nullptr});
}
