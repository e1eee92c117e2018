// The interface every detectable malware implements: signature summaries for
// the index, names for the report, and its removal.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "script/model.h"
#include "signature/signature.h"

class CScanController;
class CRemovalSystem;

// Who reports a detection to Remove.
enum class DetectionSource : int {
    File = 1,    // the file scanner, one infected file
    Memory = 2,  // the memory scanner, infected processes
};

// One infected process as the memory scanner and the process lookup give it.
struct InfectedProcessRecord {
    char16_t path[260] = {};  // image or module path (or the name searched for), NUL-terminated
    uint32_t processId = 0;
};

class CMalwareRemover {
public:
    // Heads are 5 bytes each; a length of 0 means no signature of that kind.
    CMalwareRemover(const uint8_t memoryHead[5], const uint8_t fileHead[5], uint16_t memoryWord,
                    uint16_t fileWord, uint32_t memoryLength, uint32_t fileLength, uint32_t memoryOffset,
                    uint32_t fileOffset, uint32_t memoryCrc, uint32_t fileCrc);
    // Both summaries from their 15-byte records.
    CMalwareRemover(const CSignature& memory, const CSignature& file);
    virtual ~CMalwareRemover();

    CMalwareRemover(const CMalwareRemover&) = delete;
    CMalwareRemover& operator=(const CMalwareRemover&) = delete;

    virtual const char16_t* GetFamilyName() const = 0;
    virtual const char16_t* GetVariantName() const = 0;
    // The signature fields; the heads are 5 bytes (`length` is set to 5).
    virtual const uint8_t* GetMemorySignatureHead(uint32_t& length) const;
    virtual const uint8_t* GetFileSignatureHead(uint32_t& length) const;
    virtual uint32_t GetFileSignatureAnchorOffset() const;
    virtual uint32_t GetMemorySignatureAnchorOffset() const;
    virtual uint32_t GetFileSignatureLength() const;
    virtual uint32_t GetMemorySignatureLength() const;
    virtual uint16_t GetMemorySignatureAnchorWord() const;
    virtual uint16_t GetFileSignatureAnchorWord() const;
    virtual uint32_t GetMemorySignatureCrc() const;
    virtual uint32_t GetFileSignatureCrc() const;
    // Removes one detection. `path`: the infected file or module, or null for a
    // script-described memory hit. `detail`: a 32-bit process id (0 from the
    // file scanner), or for a script-described memory hit the
    // std::vector<InfectedProcessRecord> of its processes. `moreFollow`: another
    // memory hit node of this remover follows.
    virtual void Remove(CScanController& controller, const char16_t* path, const void* detail,
                        DetectionSource source, bool moreFollow) = 0;
    virtual bool IsScripted() const;

private:
    uint8_t memoryHead_[5];
    uint8_t fileHead_[5];
    uint16_t memoryWord_;
    uint16_t fileWord_;
    uint32_t memoryLength_;
    uint32_t fileLength_;
    uint32_t memoryOffset_;
    uint32_t fileOffset_;
    uint32_t memoryCrc_;
    uint32_t fileCrc_;
};

// One description of the malware description script.
class CScriptedMalware : public CMalwareRemover {
public:
    // `memory`/`file`: the description's records, all zero where it has none.
    CScriptedMalware(const CSignature& memory, const CSignature& file, std::u16string familyName,
                     std::u16string variantName, std::vector<CMalwareAction> actions);

    const char16_t* GetFamilyName() const override { return familyName_.c_str(); }
    const char16_t* GetVariantName() const override { return variantName_.c_str(); }
    void Remove(CScanController& controller, const char16_t* path, const void* detail,
                DetectionSource source, bool moreFollow) override;
    bool IsScripted() const override { return true; }

    const std::vector<CMalwareAction>& Actions() const { return actions_; }

    bool isFirstRemoval = true;    // cleared at the end of the first Remove
    bool registryTouched = false;  // set by a registry action during one Remove

private:
    std::u16string familyName_;
    std::u16string variantName_;
    std::vector<CMalwareAction> actions_;
};

// The removers written as code, for malware the script cannot describe.
class CBuiltinRemover : public CMalwareRemover {
public:
    using CMalwareRemover::CMalwareRemover;

protected:
    CRemovalSystem* system_ = nullptr;  // fetched again at the start of every Remove
};

class CSoberJRemover : public CBuiltinRemover {
public:
    CSoberJRemover();
    const char16_t* GetFamilyName() const override { return u"Sober"; }
    const char16_t* GetVariantName() const override { return u"J"; }
    void Remove(CScanController& controller, const char16_t* path, const void* detail,
                DetectionSource source, bool moreFollow) override;
};

class CSoberPRemover : public CBuiltinRemover {
public:
    CSoberPRemover();
    const char16_t* GetFamilyName() const override { return u"Sober"; }
    const char16_t* GetVariantName() const override { return u"P"; }
    void Remove(CScanController& controller, const char16_t* path, const void* detail,
                DetectionSource source, bool moreFollow) override;
};

class CSoberYRemover : public CBuiltinRemover {
public:
    CSoberYRemover();
    const char16_t* GetFamilyName() const override { return u"Sober"; }
    const char16_t* GetVariantName() const override { return u"Y"; }
    void Remove(CScanController& controller, const char16_t* path, const void* detail,
                DetectionSource source, bool moreFollow) override;
};

class CStanitRemover : public CBuiltinRemover {
public:
    CStanitRemover();
    const char16_t* GetFamilyName() const override { return u"W32/Stanit"; }
    const char16_t* GetVariantName() const override { return u"A"; }
    void Remove(CScanController& controller, const char16_t* path, const void* detail,
                DetectionSource source, bool moreFollow) override;
    // Repairs the infected file in place, with the headers of the work area:
    // one of the StanitRepairResult values.
    int32_t Repair(const char16_t* path);
};

// Sober.J, Sober.P, Sober.Y and W32/Stanit, created before main runs, then a
// null entry. The scan controller takes them over and deletes them.
constexpr int kBuiltinRemoverCount = 4;
extern CMalwareRemover* g_builtinRemovers[kBuiltinRemoverCount + 1];
