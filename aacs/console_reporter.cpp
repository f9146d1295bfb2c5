// The console text of a run, byte for byte: green for matches, red for mismatches and failures. Names from the
// disc are shown with their control bytes escaped, so none can steer the terminal.
#include "aacs/console_reporter.h"

#include "aacs/clip_verify.h"
#include "aacs/disc_source.h"
#include "console/console.h"

void ConsoleReporter::runStarted(const char* path) {
    discPath = path;
    if (verbose()) printPlain("Verify content hash of %s\n", path);
}

void ConsoleReporter::runFailed(RunFailure failure) {
    switch (failure) {
        case RunFailure::NotMounted:
            printColored(kColorRed, "Failed to parse UDF file system in %s!\n", discPath.c_str());
            break;
        case RunFailure::NoContentFolder:
            printColored(kColorRed, "AACS directory not present, abort!\n");
            break;
        case RunFailure::NoContentTable:
            printColored(kColorRed, "Content hash table missing, unable to verify integrity of M2TS files.\n");
            break;
        case RunFailure::NoMemory:
            break;
    }
}

void ConsoleReporter::contentPairMerged(uint32_t pairNumber, const ContentCertificate& cert,
                                        const ClipHashEntry* entries, uint32_t entryCount) {
    if (!verbose()) return;
    printPlain("  Layer %d\n", static_cast<int>(pairNumber));
    printPlain("\tCertType=%u\n", static_cast<unsigned>(cert.CertType));
    printPlain("\tBEE=%u\n", static_cast<unsigned>(cert.BEE));
    printPlain("\tTotalNumberOfHashUnits=%u\n", cert.TotalNumberOfHashUnits);
    printPlain("\tTotalNumberOfLayers=%u\n", static_cast<unsigned>(cert.TotalNumberOfLayers));
    printPlain("\tLayerNumber=%u\n", static_cast<unsigned>(cert.LayerNumber));
    printPlain("\tNumberOfHashUnits=%u\n", cert.NumberOfHashUnits);
    printPlain("\tNumberOfDigests=%u\n", static_cast<unsigned>(cert.NumberOfDigests));
    printPlain("\tApplicantID=%u\n", static_cast<unsigned>(cert.ApplicantID));
    for (uint32_t i = 0; i < entryCount; ++i) {
        printPlain("\t%08x %05d.m2ts %08x\n", entries[i].firstUnit, static_cast<int>(entries[i].clipNumber),
                   entries[i].auxValue);
    }
}

void ConsoleReporter::discNoted(const DiscNote& note) {
    if (options.quiet) return;
    switch (note.kind) {
        case NoteKind::ReserveAnchor:
            printPlain("Anchor at sector 256 unreadable; using the one at sector %u\n", note.sector);
            break;
        case NoteKind::ReserveSequence:
            printPlain("Main volume descriptor sequence unusable; using the reserve at sector %u\n", note.sector);
            break;
        case NoteKind::VatBeforeEnd:
            printPlain("Virtual allocation table found at sector %u, before the end of the image\n", note.sector);
            break;
    }
}

void ConsoleReporter::discDamaged(const DiscDamage& damage) {
    const std::string path = printableName(damage.path.c_str());
    switch (damage.kind) {
        case DamageKind::TableTooLarge:
            printColored(kColorRed, "%s: content hash table lists more than the disc can hold\n", path.c_str());
            break;
        case DamageKind::EntryUnreadable:
            printColored(kColorRed, "%s: file entry could not be read (sector %u)\n", path.c_str(), damage.sector);
            break;
        case DamageKind::DirectoryUnreadable:
            printColored(kColorRed, "%s: directory could not be read whole (sector %u)\n", path.c_str(),
                         damage.sector);
            break;
        case DamageKind::ExtentsUnreadable:
            printColored(kColorRed, "%s: allocation extents could not be read (sector %u)\n", path.c_str(),
                         damage.sector);
            break;
        case DamageKind::MoreUnrecorded:
            printColored(kColorRed, "%u more structures could not be read\n", damage.sector);
            break;
        case DamageKind::ContentFileUnusable:
            printColored(kColorRed, "%s: content file could not be loaded\n", path.c_str());
            break;
        case DamageKind::LayersMissing:
            printColored(kColorRed, "%s: content files of %u of the %u layers the certificates name\n", path.c_str(),
                         damage.sector, damage.total);
            break;
    }
}

void ConsoleReporter::clipSkipped(const ClipFile& clip) {
    if (verbose()) printPlain("%s was skipped due to no content hash\n", printableName(clip.name.c_str()).c_str());
}

void ConsoleReporter::clipNotOpened(const ClipFile&, const char* path) {
    printColored(kColorRed, "cannot open file %s\n", printableName(path).c_str());
}

void ConsoleReporter::clipSharesData(const ClipFile& clip, uint32_t sector) {
    printColored(kColorRed, "%s shares its data at sector %u with an earlier clip or repeats it\n",
                 printableName(clip.name.c_str()).c_str(), sector);
}

void ConsoleReporter::noHashUnit(const ClipFile& clip, uint32_t unitIndex) {
    printColored(kColorRed, "No hash unit %d/%05d/%u\n", 0, static_cast<int>(clip.number), unitIndex);
}

void ConsoleReporter::unitMatched(const ClipFile& clip, uint64_t offset) {
    if (!options.progress || options.quiet) return;
    printColored(kColorGreen, "%s content hash match at offset %" PRIu64 " (%i%%)\r", printableName(clip.name.c_str()).c_str(), offset,
                 unitPercent(offset, clip.size));
}

void ConsoleReporter::unitMismatched(const ClipFile& clip, uint64_t offset, const uint8_t expected[8],
                                     const uint8_t*) {
    if (options.abortOnMismatch) {
        printColored(kColorRed, "%s content hash mismatch\n", printableName(clip.name.c_str()).c_str());
        return;
    }
    char hex[2 * kUnitHashBytes + 1];
    printColored(kColorRed, "%s content hash mismatch at offset %" PRIu64 " (%i%%), expected hash=%s\n",
                 printableName(clip.name.c_str()).c_str(), offset, unitPercent(offset, clip.size),
                 hexString(expected, kUnitHashBytes, hex));
}

void ConsoleReporter::clipUnreadable(const ClipFile& clip, uint64_t offset) {
    printColored(kColorRed, "%s cannot be read at offset %" PRIu64 "\n", printableName(clip.name.c_str()).c_str(), offset);
}

void ConsoleReporter::clipShorter(const ClipFile& clip, uint64_t wholeUnits, uint32_t listedUnits) {
    printColored(kColorRed, "%s is shorter than its content hash table: %" PRIu64 " of %u hash units\n",
                 printableName(clip.name.c_str()).c_str(), wholeUnits, listedUnits);
}

void ConsoleReporter::clipMissing(uint32_t clipNumber) {
    printColored(kColorRed, "%05d.m2ts is missing\n", static_cast<int>(clipNumber));
}

// The green line only for a clip compared to its end with every unit matching.
void ConsoleReporter::clipFinished(const ClipFile& clip, const ClipResult& result) {
    if (verdictOf(result) != ClipVerdict::Matched || options.quiet) return;
    // In progress mode the padding blanks what is left of the longest progress line.
    if (options.progress) {
        printColored(kColorGreen, "%s content hash match                                                                     \n",
                     printableName(clip.name.c_str()).c_str());
    } else {
        printColored(kColorGreen, "%s content hash match\n", printableName(clip.name.c_str()).c_str());
    }
}

void ConsoleReporter::runFinished(const RunTotals& totals, uint32_t elapsedMilliseconds) {
    printLine("--------------------------------");
    printPlain("Content hash      : %s\n", runMatched(totals) ? "match" : "mismatch");
    printPlain("Total files       : %u\n", totals.totalFiles);
    printPlain("Matched files     : %u\n", totals.matchedFiles);
    if (totals.mismatchedFiles != 0) printPlain("Mismatched files  : %u\n", totals.mismatchedFiles);
    if (totals.mismatchedHashes != 0 && !options.abortOnMismatch) {
        printPlain("Mismatched hashes : %u\n", totals.mismatchedHashes);
    }
    if (totals.unverifiedFiles != 0) printPlain("Unverified files  : %u\n", totals.unverifiedFiles);
    if (totals.missingFiles != 0) printPlain("Missing files     : %u\n", totals.missingFiles);
    if (totals.skippedFiles != 0) printPlain("Skipped files     : %u\n", totals.skippedFiles);
    printPlain("Time elapsed      : %.1f s\n", static_cast<double>(static_cast<float>(elapsedMilliseconds) / 1000.0f));
}
