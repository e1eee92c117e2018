// The remover base keeps the two signature summaries that the index reads
// through the accessors; CScriptedMalware adds a description's names and
// actions.
#include "removers/remover.h"

#include <cstring>
#include <utility>

CMalwareRemover::CMalwareRemover(const uint8_t memoryHead[5], const uint8_t fileHead[5], uint16_t memoryWord,
                                 uint16_t fileWord, uint32_t memoryLength, uint32_t fileLength,
                                 uint32_t memoryOffset, uint32_t fileOffset, uint32_t memoryCrc, uint32_t fileCrc)
    : memoryWord_(memoryWord),
      fileWord_(fileWord),
      memoryLength_(memoryLength),
      fileLength_(fileLength),
      memoryOffset_(memoryOffset),
      fileOffset_(fileOffset),
      memoryCrc_(memoryCrc),
      fileCrc_(fileCrc) {
    std::memcpy(memoryHead_, memoryHead, sizeof memoryHead_);
    std::memcpy(fileHead_, fileHead, sizeof fileHead_);
}

CMalwareRemover::CMalwareRemover(const CSignature& memory, const CSignature& file)
    : CMalwareRemover(memory.Head(), file.Head(), memory.AnchorWord(), file.AnchorWord(), memory.Length(),
                      file.Length(), memory.AnchorOffset(), file.AnchorOffset(), memory.Crc(), file.Crc()) {}

CMalwareRemover::~CMalwareRemover() = default;

const uint8_t* CMalwareRemover::GetMemorySignatureHead(uint32_t& length) const {
    length = sizeof memoryHead_;
    return memoryHead_;
}
const uint8_t* CMalwareRemover::GetFileSignatureHead(uint32_t& length) const {
    length = sizeof fileHead_;
    return fileHead_;
}
uint32_t CMalwareRemover::GetFileSignatureAnchorOffset() const { return fileOffset_; }
uint32_t CMalwareRemover::GetMemorySignatureAnchorOffset() const { return memoryOffset_; }
uint32_t CMalwareRemover::GetFileSignatureLength() const { return fileLength_; }
uint32_t CMalwareRemover::GetMemorySignatureLength() const { return memoryLength_; }
uint16_t CMalwareRemover::GetMemorySignatureAnchorWord() const { return memoryWord_; }
uint16_t CMalwareRemover::GetFileSignatureAnchorWord() const { return fileWord_; }
uint32_t CMalwareRemover::GetMemorySignatureCrc() const { return memoryCrc_; }
uint32_t CMalwareRemover::GetFileSignatureCrc() const { return fileCrc_; }
bool CMalwareRemover::IsScripted() const { return false; }

CScriptedMalware::CScriptedMalware(const CSignature& memory, const CSignature& file, std::u16string familyName,
                                   std::u16string variantName, std::vector<CMalwareAction> actions)
    : CMalwareRemover(memory, file),
      familyName_(std::move(familyName)),
      variantName_(std::move(variantName)),
      actions_(std::move(actions)) {}
