#include "cli/RecordsCommand.h"

#include "cli/DurableFile.h"
#include "cli/Profile.h"
#include "cli/Report.h"
#include "cli/counter/Records.h"

namespace kx::cli {
namespace {

std::string Csv(const std::string& field) {
    if (field.find_first_of(",\"\n\r") == std::string::npos) {
        return field;
    }
    std::string out = "\"";
    for (const char c : field) {
        out += c == '"' ? std::string("\"\"") : std::string(1, c);
    }
    return out + "\"";
}

std::vector<std::pair<const char*, std::string>> Fields(const ChipRow& r) {
    return {{"serial", r.serial},
            {"space", r.space},
            {"number", std::to_string(r.number)},
            {"profile", r.profile},
            {"station", r.station},
            {"time", r.time},
            {"result", r.result},
            {"identity_before", r.identityBefore},
            {"serial_before", r.serialBefore},
            {"identity_after", r.identityAfter},
            {"serial_after", r.serialAfter},
            {"read_back", r.readBack}};
}

// The rows of `logs` with a number that the server does not hold.
bool Unsent(RecordStore& store, const std::vector<std::string>& logs, Json& out,
            std::string& error) {
    for (const std::string& path : logs) {
        const std::optional<std::string> text = ReadWholeFile(path, error);
        if (!text) {
            error = error.empty() ? "no log " + path : error;
            return false;
        }
        std::int64_t missing = 0;
        std::size_t at = 0;
        for (std::size_t end = text->find('\n'); end != std::string::npos;
             at = end + 1, end = text->find('\n', at)) {
            const Json entry = Json::parse(text->substr(at, end - at), nullptr, false);
            const auto row = entry.is_discarded() ? std::nullopt : RowOfEntry(entry, "", "", "");
            std::optional<ChipRow> found;
            odbc::Error e;
            if (row && !store.find(row->serial, found, e)) {
                error = e.message;
                return false;
            }
            missing += row && !found;
        }
        out[path] = missing;
    }
    return true;
}

int Reconcile(RecordStore& store, const RecordsOptions& options, Output& o) {
    Reconciliation r;
    odbc::Error e;
    if (!store.reconcile(r, e)) {
        return FailCommand(o, "records", EXIT_FAILED, e.message);
    }
    Json unsent = Json::object();
    std::string error;
    if (!Unsent(store, options.logs, unsent, error)) {
        return FailCommand(o, "records", EXIT_FAILED, error);
    }
    std::int64_t burned = 0, outstanding = 0;
    Json stations = Json::object();
    for (const auto& [name, s] : r.byStation) {
        burned += s.burned;
        outstanding += s.outstanding;
        stations[name] = {{"recorded", s.recorded},       {"failed", s.failed},
                          {"burned", s.burned},           {"burned_numbers", s.burnedNumbers},
                          {"outstanding", s.outstanding}, {"open_leases", s.openLeases}};
    }
    const int code = r.clean() ? EXIT_DONE : EXIT_DUPLICATE;
    if (o.json) {
        // Duplicates are the finding, told in the document, not an error of the command.
        Json doc = DocumentHead("records reconcile", code, "");
        doc["chips"] = r.chips;
        doc["leases"] = r.leases;
        doc["duplicates"] = r.duplicates;
        doc["overlapping_leases"] = r.overlaps;
        doc["outside_leases"] = r.outside;
        doc["burned"] = burned;
        doc["outstanding"] = outstanding;
        doc["stations"] = stations;
        doc["unsent"] = unsent;
        o.out << doc.dump(2) << "\n";
        return code;
    }
    o.out << "records: " << r.chips << " chips, " << r.leases << " leases, " << r.byStation.size()
          << " stations\n";
    const auto list = [&](const char* what, const std::vector<std::string>& lines) {
        o.out << what << ": " << lines.size() << "\n";
        for (const std::string& l : lines) {
            o.out << "  " << l << "\n";
        }
    };
    list("serials or numbers used twice", r.duplicates);
    list("leases sharing numbers", r.overlaps);
    list("numbers outside their station's leases", r.outside);
    o.out << "numbers burned (taken, no chip recorded): " << burned << "\n";
    for (const auto& [name, s] : r.byStation) {
        o.out << "  " << name << ": " << s.recorded << " recorded (" << s.failed << " not done), "
              << s.burned << " burned";
        for (std::size_t i = 0; i < s.burnedNumbers.size(); ++i) {
            o.out << (i == 0 ? ": " : ", ") << s.burnedNumbers[i];
        }
        o.out << (s.burned > static_cast<std::int64_t>(s.burnedNumbers.size()) ? ", ..." : "")
              << "\n";
    }
    o.out << "leases outstanding: " << outstanding << " numbers\n";
    for (const auto& [name, s] : r.byStation) {
        for (const std::string& l : s.openLeases) {
            o.out << "  " << name << ": " << l << "\n";
        }
    }
    for (const auto& [log, missing] : unsent.items()) {
        o.out << "rows not yet sent from " << log << ": " << missing.get<std::int64_t>() << "\n";
    }
    o.out << (code == EXIT_DONE ? "reconcile: no serial and no number used twice\n"
                                : "reconcile: DUPLICATES FOUND\n");
    return code;
}

}  // namespace

int RecordsCommand(const RecordsOptions& options, Output& o) {
    std::string database = options.database, error;
    if (database.empty() && !options.profile.empty()) {
        const std::optional<std::string> text = ReadWholeFile(options.profile, error);
        std::vector<std::string> errors;
        const auto profile =
            text ? ParseProfile(*text, options.profile, errors) : std::optional<Profile>();
        if (!profile) {
            return FailCommand(o, "records", EXIT_USAGE,
                               "cannot read the profile " + options.profile +
                                   (errors.empty() ? "" : ": " + errors.front()));
        }
        database = profile->database;
    }
    if (database.empty()) {
        return FailCommand(o, "records", EXIT_USAGE,
                           "name the database: --database CONNECTION, or --profile FILE whose "
                           "[counter] database names it");
    }
    if (options.action == "export" && !options.csv) {
        return FailCommand(o, "records", EXIT_USAGE, "export writes CSV only: give --csv");
    }
    auto store = RecordStore::Open(database, error);
    if (!store) {
        return FailCommand(o, "records", EXIT_FAILED, "cannot use the database: " + error);
    }
    odbc::Error e;
    if (options.action == "find") {
        std::optional<ChipRow> row;
        if (!store->find(options.serial, row, e)) {
            return FailCommand(o, "records", EXIT_FAILED, e.message);
        }
        if (!row) {
            return FailCommand(o, "records", EXIT_FAILED,
                               "serial " + options.serial + " is not recorded");
        }
        Json doc;
        for (const auto& [name, value] : Fields(*row)) {
            if (o.json) {
                doc[name] = value;
            } else {
                o.out << name << ": " << value << "\n";
            }
        }
        if (o.json) {
            o.out << doc.dump(2) << "\n";
        }
        return EXIT_DONE;
    }
    if (options.action == "export") {
        const auto line = [&](const ChipRow& row, bool names) {
            std::string text;
            for (const auto& [name, value] : Fields(row)) {
                // Appended in two steps: GCC 12's -Wrestrict misreads "," + std::string at -O3.
                text += text.empty() ? "" : ",";
                text += Csv(names ? name : value);
            }
            o.out << text << "\n";
        };
        line(ChipRow{}, true);
        if (!store->each([&](const ChipRow& row) { line(row, false); }, e)) {
            return FailCommand(o, "records", EXIT_FAILED, e.message);
        }
        return EXIT_DONE;
    }
    return Reconcile(*store, options, o);
}

}  // namespace kx::cli
