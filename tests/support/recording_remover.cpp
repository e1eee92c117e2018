#include "support/recording_remover.h"

#include "signature/signature.h"

CRecordingRemover::CRecordingRemover(const std::vector<uint8_t>& memory, bool scripted, std::vector<RemoveCall>& log)
    : CMalwareRemover(MakeSignatureRecord(memory.data(), memory.size()).value(), CSignature{}),
      scripted_(scripted),
      log_(log) {}

void CRecordingRemover::Remove(CScanController&, const char16_t* path, const void* detail, DetectionSource source,
                               bool moreFollow) {
    RemoveCall call;
    call.remover = this;
    call.hasPath = path != nullptr;
    if (path != nullptr) call.path = path;
    if (scripted_) {
        call.records = *static_cast<const std::vector<InfectedProcessRecord>*>(detail);
    } else {
        call.processId = *static_cast<const uint32_t*>(detail);
    }
    call.source = source;
    call.moreFollow = moreFollow;
    log_.push_back(std::move(call));
}

std::u16string HexText(const std::vector<uint8_t>& bytes) {
    static const char16_t digits[] = u"0123456789ABCDEF";
    std::u16string text;
    for (uint8_t b : bytes) {
        text.push_back(digits[b >> 4]);
        text.push_back(digits[b & 15]);
    }
    return text;
}
