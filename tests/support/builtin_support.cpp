#include "support/builtin_support.h"

std::vector<std::unique_ptr<CMalwareRemover>> CreateBuiltinRemovers() {
    std::vector<std::unique_ptr<CMalwareRemover>> removers;
    removers.push_back(std::make_unique<CSoberJRemover>());
    removers.push_back(std::make_unique<CSoberPRemover>());
    removers.push_back(std::make_unique<CSoberYRemover>());
    removers.push_back(std::make_unique<CStanitRemover>());
    return removers;
}
