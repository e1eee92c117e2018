// A remover that records the file scanner's Remove calls, with the state of
// the executable-header work area during each call.
#pragma once

#include <string>
#include <vector>

#include "removers/remover.h"

class CFileHitRecorder : public CMalwareRemover {
public:
    struct Call {
        std::u16string path;
        uint32_t processId;
        DetectionSource source;
        bool moreFollow;
        uint32_t matchOffset;  // the work area's match offset during the call
        bool headersPresent;   // the work area held MZ/PE headers and a section table
    };

    explicit CFileHitRecorder(const CSignature& file) : CMalwareRemover(CSignature{}, file) {}
    const char16_t* GetFamilyName() const override { return u"Test"; }
    const char16_t* GetVariantName() const override { return u"File"; }
    void Remove(CScanController& controller, const char16_t* path, const void* detail, DetectionSource source,
                bool moreFollow) override;

    std::vector<Call> calls;
};
