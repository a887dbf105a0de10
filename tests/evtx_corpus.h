// The real recordings beside the project (../shared/data/evtx, or $VANTEL_EVTX_DIR) that the
// reader and replay tests run over; they skip when it is absent.
#pragma once
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "winsim/evtx_reader.h"

namespace vantel::testing {

inline std::filesystem::path EvtxCorpusFolder() {
    if (const char* folder = std::getenv("VANTEL_EVTX_DIR")) return folder;
    return std::filesystem::path(VANTEL_SOURCE_DIR) / ".." / "shared" / "data" / "evtx";
}

// Every recording, in name order; empty when the folder is absent.
inline std::vector<std::filesystem::path> EvtxCorpus() {
    std::filesystem::path folder = EvtxCorpusFolder();
    if (!std::filesystem::is_directory(folder)) return {};
    return winsim::EvtxFiles({folder});
}

}  // namespace vantel::testing

#define SKIP_WITHOUT_EVTX_CORPUS(files)                                                                  \
    if ((files).empty())                                                                                  \
    GTEST_SKIP() << "no .evtx recordings in " << vantel::testing::EvtxCorpusFolder()                     \
                 << " (set VANTEL_EVTX_DIR to a folder of them)"
