#include "cli/counter/Records.h"

#include "cli/Report.h"

#include <algorithm>
#include <map>

namespace kx::cli {
namespace {

using odbc::Row;
using odbc::Value;

constexpr int MAX_LEASE_ATTEMPTS = 50;  // other stations winning the race each time
constexpr std::size_t BURNED_SHOWN = 20;

struct Table {
    const char* name;
    const char* create;
    std::vector<std::pair<const char*, bool>> columns;  // name, integer
};

// clang-format off
const Table TABLES[] = {
    {"kx4701_schema",
     "CREATE TABLE kx4701_schema (name VARCHAR(32) NOT NULL PRIMARY KEY, version INTEGER NOT NULL)",
     {{"name", false}, {"version", true}}},
    {"kx4701_counter",
     "CREATE TABLE kx4701_counter (space VARCHAR(100) NOT NULL PRIMARY KEY, "
     "next_number BIGINT NOT NULL)",
     {{"space", false}, {"next_number", true}}},
    {"kx4701_lease",
     "CREATE TABLE kx4701_lease (space VARCHAR(100) NOT NULL, first_number BIGINT NOT NULL, "
     "end_number BIGINT NOT NULL, step_size BIGINT NOT NULL, station VARCHAR(100) NOT NULL, "
     "taken_at VARCHAR(32) NOT NULL, used_to BIGINT, PRIMARY KEY (space, first_number))",
     {{"space", false}, {"first_number", true}, {"end_number", true}, {"step_size", true},
      {"station", false}, {"taken_at", false}, {"used_to", true}}},
    {"kx4701_chip",
     "CREATE TABLE kx4701_chip (serial VARCHAR(100) NOT NULL PRIMARY KEY, "
     "space VARCHAR(100) NOT NULL, num BIGINT NOT NULL, profile VARCHAR(255) NOT NULL, "
     "station VARCHAR(100) NOT NULL, recorded_at VARCHAR(32) NOT NULL, "
     "result VARCHAR(16) NOT NULL, identity_before VARCHAR(1000), serial_before VARCHAR(1000), "
     "identity_after VARCHAR(1000), serial_after VARCHAR(1000), read_back VARCHAR(1000), "
     "UNIQUE (space, num))",
     {{"serial", false}, {"space", false}, {"num", true}, {"profile", false}, {"station", false},
      {"recorded_at", false}, {"result", false}, {"identity_before", false},
      {"serial_before", false}, {"identity_after", false}, {"serial_after", false},
      {"read_back", false}}},
};
// clang-format on

constexpr const char* CHIP_COLUMNS =
    "serial, space, num, profile, station, recorded_at, result, identity_before, serial_before, "
    "identity_after, serial_after, read_back";

std::string Text(const Value& v) {
    const auto* s = std::get_if<std::string>(&v);
    return s != nullptr ? *s : std::string();
}
std::int64_t Int(const Value& v) {
    const auto* n = std::get_if<std::int64_t>(&v);
    return n != nullptr ? *n : 0;
}
std::optional<std::int64_t> MaybeInt(const Value& v) {
    const auto* n = std::get_if<std::int64_t>(&v);
    return n != nullptr ? std::optional(*n) : std::nullopt;
}
Value OrNull(const std::string& s) {
    return s.empty() ? Value{} : Value{s};
}

ChipRow ChipOf(const Row& r) {
    return {Text(r[0]), Text(r[1]), Int(r[2]),  Text(r[3]), Text(r[4]),  Text(r[5]),
            Text(r[6]), Text(r[7]), Text(r[8]), Text(r[9]), Text(r[10]), Text(r[11])};
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

}  // namespace

std::unique_ptr<RecordStore> RecordStore::Open(const std::string& connection, std::string& error) {
    odbc::Error e;
    auto db = odbc::Connection::Open(connection, 10, e);
    if (!db) {
        error = e.message;
        return nullptr;
    }
    std::unique_ptr<RecordStore> store(new RecordStore(std::move(db)));
    if (!store->ensureTables(error)) {
        return nullptr;
    }
    return store;
}

bool RecordStore::ensureTables(std::string& error) {
    for (const Table& t : TABLES) {
        const std::string probe = std::string("SELECT * FROM ") + t.name + " WHERE 1 = 0";
        std::vector<odbc::Column> columns;
        odbc::Error e;
        if (!db_->describe(probe, columns, e)) {
            odbc::Error created;
            // Another station may be creating it at the same moment: look again either way.
            if (!db_->run(t.create, {}, created) && !db_->describe(probe, columns, e)) {
                error = "cannot create the table " + std::string(t.name) + ": " + created.message;
                return false;
            }
            if (columns.empty() && !db_->describe(probe, columns, e)) {
                error = "the table " + std::string(t.name) + " cannot be read: " + e.message;
                return false;
            }
        }
        bool same = columns.size() == t.columns.size();
        std::string theirs, ours;
        for (std::size_t i = 0; i < columns.size(); ++i) {
            theirs += (i ? ", " : "") + Lower(columns[i].name);
            same = same && Lower(columns[i].name) == t.columns[i].first &&
                   columns[i].integer == t.columns[i].second;
        }
        for (std::size_t i = 0; i < t.columns.size(); ++i) {
            ours += (i ? ", " : "") + std::string(t.columns[i].first);
        }
        if (!same) {
            error = "the table " + std::string(t.name) + " on the server has the columns (" +
                    theirs + "), not kx4701's (" + ours +
                    "), or other types; it is left as it is: use another database, or move "
                    "that table away";
            return false;
        }
    }
    odbc::Error e;
    std::vector<Row> rows;
    const char* read = "SELECT version FROM kx4701_schema WHERE name = 'kx4701'";
    if (!db_->run(read, {}, e, &rows)) {
        error = e.message;
        return false;
    }
    if (rows.empty()) {
        odbc::Error ignored;  // a station starting beside this one may have written it first
        (void)db_->run("INSERT INTO kx4701_schema (name, version) VALUES ('kx4701', ?)",
                       {SCHEMA_VERSION}, ignored);
        if (!db_->run(read, {}, e, &rows)) {
            error = e.message;
            return false;
        }
    }
    if (rows.size() != 1 || MaybeInt(rows[0][0]) != SCHEMA_VERSION) {
        error = "the tables on the server are of schema version " +
                (rows.empty() ? std::string("(none)") : std::to_string(Int(rows[0][0]))) +
                "; this kx4701 knows version " + std::to_string(SCHEMA_VERSION) +
                " only, and alters none";
        return false;
    }
    return true;
}

bool RecordStore::advance(const std::string& space, std::int64_t expected, std::int64_t next,
                          bool& moved, odbc::Error& error) {
    std::int64_t changed = 0;
    if (!db_->run("UPDATE kx4701_counter SET next_number = ? WHERE space = ? AND next_number = ?",
                  {next, space, expected}, error, nullptr, &changed)) {
        return false;
    }
    moved = changed == 1;
    return true;
}

bool RecordStore::takeLease(const std::string& space, const std::string& station,
                            std::uint64_t floor, std::uint64_t count, std::uint64_t step,
                            const std::function<bool(const NumberRange&)>& reserve,
                            NumberRange& taken, std::string& error) {
    odbc::Error e;
    for (int attempt = 0; attempt < MAX_LEASE_ATTEMPTS; ++attempt) {
        if (!db_->begin(e)) {
            error = e.message;
            return false;
        }
        std::vector<Row> rows;
        if (!db_->run("SELECT next_number FROM kx4701_counter WHERE space = ?", {space}, e,
                      &rows)) {
            db_->rollback();
            error = e.message;
            return false;
        }
        auto current = static_cast<std::int64_t>(floor);
        if (rows.empty()) {
            if (!db_->run("INSERT INTO kx4701_counter (space, next_number) VALUES (?, ?)",
                          {space, current}, e)) {
                db_->rollback();
                if (e.constraint()) {
                    continue;  // another station made it first
                }
                error = e.message;
                return false;
            }
        } else {
            current = Int(rows[0][0]);
        }
        const auto first = std::max<std::int64_t>(current, static_cast<std::int64_t>(floor));
        const auto end = first + static_cast<std::int64_t>(count * step);
        bool moved = false;
        if (!advance(space, current, end, moved, e)) {
            db_->rollback();
            error = e.message;
            return false;
        }
        if (!moved) {
            db_->rollback();
            continue;
        }
        if (!db_->run("INSERT INTO kx4701_lease (space, first_number, end_number, step_size, "
                      "station, taken_at) VALUES (?, ?, ?, ?, ?, ?)",
                      {space, first, end, static_cast<std::int64_t>(step), station, UtcTimestamp()},
                      e)) {
            db_->rollback();
            if (e.constraint()) {
                continue;
            }
            error = e.message;
            return false;
        }
        taken = {static_cast<std::uint64_t>(first), static_cast<std::uint64_t>(end)};
        if (!reserve(taken)) {
            db_->rollback();
            error = "the lease was not taken";
            return false;
        }
        if (!db_->commit(e)) {
            error = e.message;
            return false;
        }
        return true;
    }
    error = "other stations took every lease asked for in " + std::to_string(MAX_LEASE_ATTEMPTS) +
            " attempts";
    return false;
}

bool RecordStore::findLease(const std::string& space, std::int64_t first,
                            std::optional<LeaseRow>& lease, odbc::Error& error) {
    std::vector<Row> rows;
    if (!db_->run("SELECT space, first_number, end_number, step_size, station, taken_at, used_to "
                  "FROM kx4701_lease WHERE space = ? AND first_number = ?",
                  {space, first}, error, &rows)) {
        return false;
    }
    lease.reset();
    if (!rows.empty()) {
        const Row& r = rows[0];
        lease = LeaseRow{Text(r[0]), Int(r[1]),  Int(r[2]),     Int(r[3]),
                         Text(r[4]), Text(r[5]), MaybeInt(r[6])};
    }
    return true;
}

bool RecordStore::highest(const std::string& space, const NumberRange& range,
                          std::optional<std::int64_t>& number, odbc::Error& error) {
    std::vector<Row> rows;
    if (!db_->run(
            "SELECT MAX(num) FROM kx4701_chip WHERE space = ? AND num >= ? AND num < ?",
            {space, static_cast<std::int64_t>(range.first), static_cast<std::int64_t>(range.end)},
            error, &rows)) {
        return false;
    }
    number = rows.empty() ? std::nullopt : MaybeInt(rows[0][0]);
    return true;
}

bool RecordStore::closeLease(const std::string& space, std::int64_t first, std::int64_t usedTo,
                             odbc::Error& error) {
    return db_->run("UPDATE kx4701_lease SET used_to = ? WHERE space = ? AND first_number = ?",
                    {usedTo, space, first}, error);
}

RecordStore::Sent RecordStore::insert(const ChipRow& row, std::string& error) {
    odbc::Error e;
    if (db_->run(std::string("INSERT INTO kx4701_chip (") + CHIP_COLUMNS +
                     ") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                 {row.serial, row.space, row.number, row.profile, row.station, row.time, row.result,
                  OrNull(row.identityBefore), OrNull(row.serialBefore), OrNull(row.identityAfter),
                  OrNull(row.serialAfter), OrNull(row.readBack)},
                 e)) {
        return Sent::New;
    }
    if (!e.constraint()) {
        error = e.message;
        return Sent::Failed;
    }
    // Sent before (a run that died before noting it), or a serial used twice.
    std::vector<Row> rows;
    if (!db_->run("SELECT serial, station, num FROM kx4701_chip WHERE serial = ? OR "
                  "(space = ? AND num = ?)",
                  {row.serial, row.space, row.number}, e, &rows)) {
        error = e.message;
        return Sent::Failed;
    }
    for (const Row& r : rows) {
        if (Text(r[0]) != row.serial || Text(r[1]) != row.station || Int(r[2]) != row.number) {
            error = "serial " + row.serial + " (number " + std::to_string(row.number) +
                    ") is already recorded as " + Text(r[0]) + ", number " +
                    std::to_string(Int(r[2])) + ", by station " + Text(r[1]) +
                    ": a serial number used twice";
            return Sent::Duplicate;
        }
    }
    return Sent::Already;
}

bool RecordStore::find(const std::string& serial, std::optional<ChipRow>& row, odbc::Error& error) {
    std::vector<Row> rows;
    if (!db_->run(std::string("SELECT ") + CHIP_COLUMNS + " FROM kx4701_chip WHERE serial = ?",
                  {serial}, error, &rows)) {
        return false;
    }
    row = rows.empty() ? std::nullopt : std::optional(ChipOf(rows[0]));
    return true;
}

bool RecordStore::each(const std::function<void(const ChipRow&)>& visit, odbc::Error& error) {
    std::vector<Row> rows;
    if (!db_->run(std::string("SELECT ") + CHIP_COLUMNS + " FROM kx4701_chip ORDER BY space, num",
                  {}, error, &rows)) {
        return false;
    }
    for (const Row& r : rows) {
        visit(ChipOf(r));
    }
    return true;
}

bool RecordStore::reconcile(Reconciliation& out, odbc::Error& error) {
    std::vector<Row> rows;
    const auto query = [&](const char* sql) {
        rows.clear();
        return db_->run(sql, {}, error, &rows);
    };
    if (!query("SELECT COUNT(*) FROM kx4701_chip")) {
        return false;
    }
    out.chips = Int(rows.at(0).at(0));
    // The unique keys stand behind these; they are asked all the same, so that the report
    // proves it rather than trusting the table.
    if (!query("SELECT serial, COUNT(*) FROM kx4701_chip GROUP BY serial HAVING COUNT(*) > 1")) {
        return false;
    }
    for (const Row& r : rows) {
        out.duplicates.push_back("serial " + Text(r[0]) + " recorded " + std::to_string(Int(r[1])) +
                                 " times");
    }
    if (!query("SELECT space, num, COUNT(*) FROM kx4701_chip GROUP BY space, num "
               "HAVING COUNT(*) > 1")) {
        return false;
    }
    for (const Row& r : rows) {
        out.duplicates.push_back(Text(r[0]) + " number " + std::to_string(Int(r[1])) + " used " +
                                 std::to_string(Int(r[2])) + " times");
    }
    if (!query("SELECT a.space, a.first_number, a.end_number, a.station, b.first_number, "
               "b.end_number, b.station FROM kx4701_lease a, kx4701_lease b "
               "WHERE a.space = b.space AND a.first_number < b.first_number "
               "AND b.first_number < a.end_number")) {
        return false;
    }
    for (const Row& r : rows) {
        out.overlaps.push_back(Text(r[0]) + ": " + Text(r[3]) + "'s lease " +
                               std::to_string(Int(r[1])) + ".." + std::to_string(Int(r[2]) - 1) +
                               " and " + Text(r[6]) + "'s " + std::to_string(Int(r[4])) + ".." +
                               std::to_string(Int(r[5]) - 1));
    }
    if (!query("SELECT c.serial, c.num, c.station FROM kx4701_chip c WHERE NOT EXISTS "
               "(SELECT 1 FROM kx4701_lease l WHERE l.space = c.space AND l.station = c.station "
               "AND c.num >= l.first_number AND c.num < l.end_number) ORDER BY c.num")) {
        return false;
    }
    for (const Row& r : rows) {
        out.outside.push_back("serial " + Text(r[0]) + " (number " + std::to_string(Int(r[1])) +
                              ") by " + Text(r[2]) + ": no lease of that station holds it");
    }
    // Each lease: the numbers up to where its station got that have no row are burned
    // (or not sent yet); the ones after it are still the station's to use.
    std::map<std::string, Reconciliation::Station> stations;
    std::vector<Row> leases;
    if (!db_->run("SELECT l.space, l.first_number, l.end_number, l.step_size, l.station, "
                  "l.used_to, COUNT(c.num), MAX(c.num), "
                  "SUM(CASE WHEN c.result = 'done' THEN 0 WHEN c.num IS NULL THEN 0 ELSE 1 END) "
                  "FROM kx4701_lease l LEFT JOIN kx4701_chip c ON c.space = l.space "
                  "AND c.num >= l.first_number AND c.num < l.end_number "
                  "GROUP BY l.space, l.first_number, l.end_number, l.step_size, l.station, "
                  "l.used_to ORDER BY l.first_number",
                  {}, error, &leases)) {
        return false;
    }
    out.leases = static_cast<std::int64_t>(leases.size());
    for (const Row& l : leases) {
        const std::string space = Text(l[0]), station = Text(l[4]);
        const std::int64_t first = Int(l[1]), end = Int(l[2]),
                           step = std::max<std::int64_t>(1, Int(l[3]));
        const std::int64_t recorded = Int(l[6]);
        const std::optional<std::int64_t> highest = MaybeInt(l[7]);
        const std::int64_t reached = std::min(
            end, std::max(MaybeInt(l[5]).value_or(first), highest ? *highest + step : first));
        Reconciliation::Station& s = stations[station];
        s.recorded += recorded;
        s.failed += Int(l[8]);
        const std::int64_t gaps = (reached - first + step - 1) / step - recorded;
        if (gaps > 0) {
            s.burned += gaps;
            std::vector<Row> used;
            if (!db_->run("SELECT num FROM kx4701_chip WHERE space = ? AND num >= ? AND num < ? "
                          "ORDER BY num",
                          {space, first, reached}, error, &used)) {
                return false;
            }
            std::size_t u = 0;
            for (std::int64_t n = first; n < reached && s.burnedNumbers.size() < BURNED_SHOWN;
                 n += step) {
                if (u < used.size() && Int(used[u][0]) == n) {
                    ++u;
                } else {
                    s.burnedNumbers.push_back(n);
                }
            }
        }
        if (reached < end) {
            const std::int64_t unused = (end - reached + step - 1) / step;
            s.outstanding += unused;
            s.openLeases.push_back(space + " " + std::to_string(first) + ".." +
                                   std::to_string(end - 1) + ": " + std::to_string(unused) +
                                   " unused from " + std::to_string(reached));
        }
    }
    if (!query("SELECT station, COUNT(*) FROM kx4701_chip GROUP BY station ORDER BY station")) {
        return false;
    }
    for (const Row& r : rows) {
        stations[Text(r[0])];
    }
    for (auto& [name, s] : stations) {
        out.stations.push_back(name);
        out.byStation.emplace_back(name, std::move(s));
    }
    return true;
}

std::optional<ChipRow> RowOfEntry(const Json& entry, const std::string& space,
                                  const std::string& profile, const std::string& station) {
    if (!entry.is_object() || !entry.contains("number") || !entry["number"].is_number_unsigned() ||
        !entry.contains("serial") || !entry["serial"].is_string() || !entry.contains("result")) {
        return std::nullopt;
    }
    const auto dump = [&](const char* a, const char* b) {
        if (!entry.contains(a) || !entry[a].is_object() || (b && !entry[a].contains(b))) {
            return std::string();
        }
        const Json& v = b ? entry[a][b] : entry[a];
        return v.is_null() ? std::string() : v.dump();
    };
    ChipRow row;
    row.serial = entry["serial"].get<std::string>();
    row.space = space;
    row.number = entry["number"].get<std::int64_t>();
    row.profile = profile;
    row.station = station;
    row.time = entry.value("time", "");
    row.result = entry["result"].get<std::string>();
    row.identityBefore = dump("before", "identity");
    row.serialBefore = dump("before", "serial");
    row.identityAfter = entry.contains("identity") ? entry["identity"].dump() : "";
    row.serialAfter = entry.contains("serial_defaults") ? entry["serial_defaults"].dump() : "";
    row.readBack = dump("after", nullptr);
    return row;
}

}  // namespace kx::cli
