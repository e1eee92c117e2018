#include "scan/scan_controller.h"

#include <map>

#include "common/string_table.h"
#include "common/text16.h"
#include "removers/removal_system.h"
#include "report/journaled_removal.h"
#include "removers/remover.h"
#include "script/parser.h"
#include "signature/hex_codec.h"
#include "signature/signature.h"

namespace {

constexpr char16_t kParseFailedText[] = u"The application will not start until you fix the previous parse error.";

// The 15-byte record of a signature text, through its 30-digit form.
std::optional<CSignature> RecordOf(const std::string& hex) {
    const std::optional<std::string> digits = BuildSignatureRecord(std::string_view(hex));
    if (!digits) return std::nullopt;
    std::vector<uint8_t> bytes;
    std::size_t count = 0;
    HexCodecLenient(reinterpret_cast<const uint8_t*>(digits->data()), digits->size(), bytes, count, kHexDecode);
    if (count != CSignature::kSize || bytes.size() < CSignature::kSize) return std::nullopt;
    return CSignature::FromBytes(bytes.data());
}

}  // namespace

std::vector<std::unique_ptr<CMalwareRemover>> TakeBuiltinRemovers() {
    std::vector<std::unique_ptr<CMalwareRemover>> removers;
    for (CMalwareRemover*& r : g_builtinRemovers) {
        if (r == nullptr) break;
        removers.emplace_back(r);
        r = nullptr;
    }
    return removers;
}

CScanController::CScanController(CScanOutput& output, CScanHost& host,
                                 std::vector<std::unique_ptr<CMalwareRemover>> builtins,
                                 std::vector<std::unique_ptr<CScanner>> phases)
    : output_(output), host_(host) {
    administrator_ = host_.QueryAdministrator();
    if (host_.IsVersionQueryFailed()) {
        host_.ShowError(LoadText(IDS_ERR_VERSION_QUERY), u"");
        constructionResult_ = kScanVersionQueryFailed;
        return;
    }
    if (const std::optional<std::u16string> text = host_.LoadScriptText()) {
        CMalwareScript script(host_.Folders(), *text, host_.Diagnostics());
        if (!script.Parse()) {
            host_.ShowError(kParseFailedText, u"Error");
            constructionResult_ = kScanParseFailed;
            return;
        }
        descriptions_ = script.TakeDescriptions();
    }

    removers_.reserve(builtins.size() + descriptions_.size());
    for (auto& remover : builtins) removers_.push_back(std::move(remover));
    for (const CMalwareDescription& d : descriptions_) {
        CSignature memory{}, file{};
        if (d.memorySignature) {
            const auto record = RecordOf(*d.memorySignature);
            if (!record) continue;
            memory = *record;
        } else {
            descriptionWithoutMemorySignature_ = true;
        }
        if (d.fileSignature) {
            const auto record = RecordOf(*d.fileSignature);
            if (!record) continue;
            file = *record;
        }
        removers_.push_back(std::make_unique<CScriptedMalware>(memory, file, d.baseName, d.variantName, d.actions));
    }

    phases_ = std::move(phases);
    for (auto& phase : phases_) phase->SetOwner(this);

    statistics_ = ScanStatistics{};
    std::vector<CMalwareRemover*> table;
    for (auto& r : removers_) table.push_back(r.get());
    index_.Build(table.data(), table.size());
    stop_.store(0);
    running_.store(0);
}

CScanController::~CScanController() {
    // The scan thread works on the tables below: stop it and let it end
    // before anything goes away.
    stop_.store(1);
    thread_.Join();
    index_.Release();
    removers_.clear();
    phases_.clear();
    host_.ReleaseSystem();
}

bool CScanController::StartScan(char16_t* pathBuffer, void* const* window, const DriveListNode* drives) {
    if (constructionResult_ != 0 || running_.load() != 0) return false;
    thread_.Join();
    pathBuffer_ = pathBuffer;
    window_ = window != nullptr ? *window : nullptr;
    drives_ = drives;
    stop_.store(0);
    running_.store(1);
    if (!thread_.Start([this] { RunScan(); })) {
        running_.store(0);
        return false;
    }
    return true;
}

int32_t CScanController::WaitForScan() {
    thread_.Join();
    return result_.load();
}

namespace {

// The journaled system in place of the one installed, while it lives.
class CJournaledScope {
public:
    CJournaledScope(CDetectionJournal& journal, CQuarantine* quarantine, ScanStatistics& statistics)
        : system_(GetRemovalSystem(), journal, quarantine, statistics), previous_(UseRemovalSystem(&system_)) {}
    ~CJournaledScope() { UseRemovalSystem(previous_); }
    CJournaledScope(const CJournaledScope&) = delete;
    CJournaledScope& operator=(const CJournaledScope&) = delete;

private:
    CJournaledRemovalSystem system_;
    CRemovalSystem* previous_;
};

}  // namespace

void CScanController::RunScan() {
    journal_.Clear();
    bool stopped = false;
    const int32_t code = RunPhases(stopped);
    Finish(code, stopped);
}

int32_t CScanController::RunPhases(bool& stopped) {
    static constexpr int32_t kOrder[] = {0, 2, 1};
    const CJournaledScope journaled(journal_, quarantine_, statistics_);
    for (int32_t kind : kOrder) {
        for (auto& phase : phases_) {
            if (phase->GetKind() != kind) continue;
            const int32_t code = kind == 1 ? phase->Scan(pathBuffer_, nullptr, drives_)
                                           : phase->Scan(nullptr, &window_, nullptr);
            if (IsStopRequested()) {
                stopped = true;
                return code;
            }
        }
    }
    stopped = IsStopRequested();
    return stopped ? kScanAborted : kScanCompleted;
}

void CScanController::HandleDetection(CMalwareRemover& remover, const char16_t* path, const void* detail,
                                      DetectionSource source, bool moreFollow) {
    DetectionRecord record;
    record.source = source;
    record.family = remover.GetFamilyName();
    record.variant = remover.GetVariantName();
    if (path != nullptr) record.path = path;
    if (source == DetectionSource::Memory && detail != nullptr) {
        if (path == nullptr) {  // a scripted hit: every infected process
            for (const InfectedProcessRecord& p : *static_cast<const std::vector<InfectedProcessRecord>*>(detail)) {
                record.processes.push_back({p.path, p.processId});
            }
        } else {
            record.processes.push_back({path, *static_cast<const uint32_t*>(detail)});
        }
    }
    if (!scanOnly_) {
        journal_.Begin(std::move(record));
        remover.Remove(*this, path, detail, source, moreFollow);
        journal_.End();
        return;
    }
    const std::u16string name = Format16(u"%s.%s", {remover.GetFamilyName(), remover.GetVariantName()});
    const std::u16string headline = path != nullptr && source == DetectionSource::File
                                        ? Format16(LoadText(IDS_FOUND_IN_FILE), {path})
                                        : std::u16string(LoadText(IDS_FOUND_IN_MEMORY));
    PrintHighlighted(name, headline.c_str());
    Print(LoadText(IDS_SCAN_ONLY_DETECTED));
    ActionRecord none;
    none.kind = ActionKind::None;
    none.outcome = ActionOutcome::Skipped;
    record.actions.push_back(std::move(none));
    journal_.Begin(std::move(record));
    journal_.End();
}

void CScanController::Finish(int32_t code, bool posted) {
    result_.store(code);
    if (posted) {
        host_.PostScanResult(window_, static_cast<ScanResultCode>(code));
    } else {
        output_.ScanFinished(static_cast<ScanResultCode>(code));
    }
    running_.store(0);
}

bool CScanController::IsAdministrator() {
    if (!administrator_) administrator_ = host_.QueryAdministrator();
    return *administrator_;
}

const std::u16string& CScanController::GetMalwareNames() {
    if (names_) return *names_;
    std::map<std::u16string, std::u16string> families;
    for (const auto& remover : removers_) {
        const std::u16string family(remover->GetFamilyName());
        const std::u16string variant(remover->GetVariantName());
        auto [it, inserted] = families.emplace(family, variant);
        if (!inserted) it->second += u"/" + variant;
    }
    std::u16string text;
    for (const auto& [family, variants] : families) text += family + u"." + variants + u"\r\n";
    if (text.size() > 2) text.resize(text.size() - 2);
    names_ = std::move(text);
    return *names_;
}
