// Recorded event-log files (.evtx): their records as the event-log service renders them, and
// their replay into the simulated machine's channels.
#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <vector>

#include "winsim/event_record.h"

namespace winsim {

struct EvtxTotals {
    uint64_t files = 0;
    uint64_t records = 0;        // intact records yielded
    uint64_t skipped = 0;        // records, or stretches of a chunk, that could not be decoded
    uint64_t damagedChunks = 0;  // chunks with a bad signature or checksum (their intact records still count)
    // Files, by what kept them from being read whole:
    uint64_t unreadable = 0;  // could not be opened or read
    uint64_t foreign = 0;     // no .evtx signature (empty files too)
    uint64_t badHeaders = 0;  // a file header whose checksum or layout is wrong; the chunks are read all the same
    uint64_t truncated = 0;   // ending inside a chunk, or short of the chunks the header counts

    EvtxTotals& operator+=(const EvtxTotals& other);
};

using EvtxRecordSink = std::function<void(EventRecord&&)>;

// Hands every intact record of a file image to the sink in file order: system values in the
// platform's order, user values as stored, the rendered XML. Damage is counted, never fatal.
EvtxTotals ReadEvtx(std::span<const uint8_t> image, const EvtxRecordSink& sink);
// The same for a file; one that cannot be read counts as one skipped stretch.
EvtxTotals ReadEvtxFile(const std::filesystem::path& file, const EvtxRecordSink& sink);
// The files named, folders recursively with their .evtx files in name order. ForEachEvtxFile
// lists one folder at a time, so that naming a folder many times costs no more than once.
std::vector<std::filesystem::path> EvtxFiles(const std::vector<std::filesystem::path>& paths);
void ForEachEvtxFile(const std::vector<std::filesystem::path>& paths,
                     const std::function<void(const std::filesystem::path& file)>& visit);

// Publishes the records of the files the paths name (as ForEachEvtxFile finds them) into the
// channels they name (made when missing), in file order; progress is called after each file with that file's totals and the totals so far. It
// keeps no more than a bounded number of records ahead of the subscriptions' callbacks; the
// channels keep what their maximum size holds.
using EvtxProgress =
    std::function<void(const std::filesystem::path& file, const EvtxTotals& ofFile, const EvtxTotals& sofar)>;
EvtxTotals ReplayEvtx(const std::vector<std::filesystem::path>& paths, const EvtxProgress& progress = {});

}  // namespace winsim
