// Contacts from vCard files into the address book.
#include <fstream>
#include <functional>
#include <set>
#include <sstream>

#include "internal.h"
#include "ovmapi/provider.h"
#include "ovplatform/platform.h"

namespace ovmapi {

using namespace detail;

namespace {

constexpr std::size_t kMaxInputBytes = 32u << 20;
constexpr std::size_t kMaxCards = 100000;
constexpr std::size_t kMaxMembers = 10000;

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return out;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// Physical lines joined into content lines: a line beginning with a blank or
// tab continues the previous one; a quoted-printable value ending in "="
// continues on the next line.
std::vector<std::string> ContentLines(std::string_view text) {
    std::vector<std::string> physical;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) end = text.size();
        physical.emplace_back(text.substr(start, end - start));
        if (end < text.size() && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ++end;
        start = end + 1;
    }
    std::vector<std::string> lines;
    bool softBreak = false;
    for (std::string& line : physical) {
        if (!lines.empty() && (softBreak || (!line.empty() && (line[0] == ' ' || line[0] == '\t')))) {
            lines.back() += softBreak ? line : line.substr(1);
        } else {
            lines.push_back(std::move(line));
        }
        std::string& last = lines.back();
        softBreak = !last.empty() && last.back() == '=' && Lower(last).find("quoted-printable") != std::string::npos;
        if (softBreak) last.pop_back();
    }
    return lines;
}

std::string DecodeQuotedPrintable(std::string_view text) {
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    std::string out;
    for (std::size_t n = 0; n < text.size(); ++n) {
        if (text[n] == '=') {
            int high = n + 1 < text.size() ? hex(text[n + 1]) : -1;
            int low = n + 2 < text.size() ? hex(text[n + 2]) : -1;
            if (high >= 0 && low >= 0) {
                out.push_back(static_cast<char>((high << 4) | low));
                n += 2;
                continue;
            }
        }
        out.push_back(text[n]);
    }
    return out;
}

// Splits on unescaped separators and undoes the escapes.
std::vector<std::string> SplitValue(std::string_view value, char separator) {
    std::vector<std::string> parts(1);
    for (std::size_t n = 0; n < value.size(); ++n) {
        char c = value[n];
        if (c == '\\' && n + 1 < value.size()) {
            char next = value[++n];
            parts.back().push_back(next == 'n' || next == 'N' ? '\n' : next);
        } else if (c == separator) {
            parts.emplace_back();
        } else {
            parts.back().push_back(c);
        }
    }
    return parts;
}

std::string Unescape(std::string_view value) { return SplitValue(value, '\0').front(); }

struct ContentLine {
    std::string name;                 // lower case, without group
    std::vector<std::string> params;  // lower case, "type=fax,work" split into "fax", "work"; bare params kept
    bool quotedPrintable = false;
    std::string value;
};

bool ParseContentLine(std::string_view line, ContentLine& out) {
    // The value starts after the first colon outside quotes.
    bool quoted = false;
    std::size_t colon = std::string_view::npos;
    for (std::size_t n = 0; n < line.size(); ++n) {
        if (line[n] == '"') quoted = !quoted;
        if (line[n] == ':' && !quoted) {
            colon = n;
            break;
        }
    }
    if (colon == std::string_view::npos) return false;
    std::string_view head = line.substr(0, colon);
    out.value = std::string(line.substr(colon + 1));
    std::vector<std::string> pieces = SplitValue(head, ';');
    std::string name = Lower(Trim(pieces[0]));
    std::size_t dot = name.find('.');
    if (dot != std::string::npos) name = name.substr(dot + 1);
    out.name = name;
    out.params.clear();
    out.quotedPrintable = false;
    for (std::size_t n = 1; n < pieces.size(); ++n) {
        std::string param = Lower(Trim(pieces[n]));
        std::size_t equals = param.find('=');
        std::string key = equals == std::string::npos ? "" : param.substr(0, equals);
        std::string values = equals == std::string::npos ? param : param.substr(equals + 1);
        if (key == "encoding" && values == "quoted-printable") out.quotedPrintable = true;
        if (key.empty() || key == "type") {
            for (std::string& value : SplitValue(values, ',')) {
                std::string v(Trim(value));
                if (!v.empty() && v.front() == '"' && v.back() == '"' && v.size() >= 2) v = v.substr(1, v.size() - 2);
                out.params.push_back(v);
            }
        }
        if (param == "quoted-printable") out.quotedPrintable = true;
    }
    if (out.quotedPrintable) out.value = DecodeQuotedPrintable(out.value);
    return true;
}

bool HasParam(const ContentLine& line, std::string_view wanted) {
    for (const std::string& param : line.params)
        if (param == wanted) return true;
    return false;
}

}  // namespace

bool ParseVCards(std::string_view text, std::vector<ContactCard>& cards, std::string& error) {
    cards.clear();
    if (text.size() > kMaxInputBytes) {
        error = "the file is larger than " + std::to_string(kMaxInputBytes >> 20) + " MB";
        return false;
    }
    if (Trim(text).empty()) return true;
    std::vector<std::string> lines = ContentLines(text);
    bool inCard = false;
    bool sawCard = false;
    ContactCard card;
    bool hasFn = false, hasN = false;
    for (const std::string& raw : lines) {
        if (Trim(raw).empty()) continue;
        ContentLine line;
        if (!ParseContentLine(raw, line)) continue;
        std::string value = line.value;
        if (line.name == "begin" && Lower(Trim(value)) == "vcard") {
            inCard = true;
            sawCard = true;
            card = ContactCard{};
            hasFn = hasN = false;
            continue;
        }
        if (!inCard) continue;
        if (line.name == "end" && Lower(Trim(value)) == "vcard") {
            inCard = false;
            if (!hasFn && hasN) {
                card.displayName = card.givenName;
                if (!card.surname.empty()) card.displayName += (card.displayName.empty() ? "" : " ") + card.surname;
            }
            if ((hasFn || hasN) && !card.displayName.empty()) {
                if (cards.size() >= kMaxCards) {
                    error = "more than " + std::to_string(kMaxCards) + " cards";
                    return false;
                }
                cards.push_back(std::move(card));
            }
            continue;
        }
        if (line.name == "fn") {
            card.displayName = std::string(Trim(Unescape(value)));
            hasFn = true;
        } else if (line.name == "n") {
            std::vector<std::string> parts = SplitValue(value, ';');
            card.surname = std::string(Trim(parts[0]));
            if (parts.size() > 1) card.givenName = std::string(Trim(parts[1]));
            hasN = true;
        } else if (line.name == "org") {
            std::vector<std::string> parts = SplitValue(value, ';');
            card.company = std::string(Trim(parts[0]));
            if (parts.size() > 1) card.department = std::string(Trim(parts[1]));
        } else if (line.name == "tel") {
            std::string number(Trim(Unescape(value)));
            if (number.rfind("tel:", 0) == 0) number = number.substr(4);
            if (HasParam(line, "fax")) {
                if (card.fax.empty()) card.fax = number;
            } else if (card.telephone.empty() || HasParam(line, "work")) {
                if (card.telephone.empty() || !HasParam(line, "cell")) card.telephone = number;
            }
        } else if (line.name == "email") {
            if (card.email.empty()) card.email = std::string(Trim(Unescape(value)));
        } else if (line.name == "uid") {
            card.uid = std::string(Trim(Unescape(value)));
        } else if (line.name == "kind" || line.name == "x-addressbookserver-kind") {
            card.isGroup = Lower(Trim(value)) == "group";
        } else if (line.name == "member" || line.name == "x-addressbookserver-member") {
            if (card.members.size() < kMaxMembers) card.members.emplace_back(Trim(Unescape(value)));
        }
    }
    if (!sawCard) {
        error = "no BEGIN:VCARD found: not a vCard file";
        return false;
    }
    return true;
}

namespace {

std::string Reference(std::string_view member) {
    std::string text(Trim(member));
    if (Lower(text).rfind("urn:uuid:", 0) == 0) return text.substr(9);
    return text;
}

}  // namespace

HRESULT ImportVCardText(std::string_view text, std::string_view containerName, ImportSummary& summary) {
    summary = ImportSummary{};
    std::vector<ContactCard> cards;
    std::string error;
    if (!ParseVCards(text, cards, error)) {
        summary.warnings.push_back(error);
        return MAPI_E_CORRUPT_DATA;
    }
    return Guarded([&]() -> HRESULT {
        ProfilePtr profile;
        if (HRESULT hr = Profile::Open(profile, error); FAILED(hr)) {
            summary.warnings.push_back(error);
            return hr;
        }
        Database& db = profile->Db();
        Transaction transaction(db);
        if (!transaction.Begun()) return db.ErrorResult();
        std::string container = containerName.empty() ? "Contacts" : std::string(containerName);
        Statement find = db.Prepare("SELECT id FROM ab_containers WHERE name = ? ORDER BY id LIMIT 1");
        if (find.Bind(1, container).Step() != SQLITE_ROW) {
            summary.warnings.push_back("no address-book container named \"" + container + "\"");
            return MAPI_E_NOT_FOUND;
        }
        std::int64_t containerId = find.Int(0);

        std::map<std::string, std::int64_t> byUid;    // references to entries of this file or earlier imports
        std::map<std::string, std::int64_t> byEmail;  // "mailto:" references
        std::vector<std::pair<const ContactCard*, std::int64_t>> groups;
        auto store = [&](const ContactCard& card, ULONG objectType, const PropMap& props, std::int64_t& id) -> HRESULT {
            id = 0;
            if (!card.uid.empty()) {
                Statement existing = db.Prepare(
                    "SELECT id FROM ab_entries WHERE container_id = ? AND uid = ? AND object_type = ? LIMIT 1");
                if (existing.Bind(1, containerId).Bind(2, card.uid).Bind(3, objectType).Step() == SQLITE_ROW)
                    id = existing.Int(0);
            }
            if (id != 0) {
                Statement update = db.Prepare("UPDATE ab_entries SET props = ? WHERE id = ?");
                if (update.BindBlob(1, SerializeProps(props)).Bind(2, id).Step() != SQLITE_DONE) return db.ErrorResult();
                return S_OK;
            }
            Statement insert = db.Prepare("INSERT INTO ab_entries(container_id, object_type, uid, props) VALUES(?, ?, ?, ?)");
            insert.Bind(1, containerId).Bind(2, objectType).Bind(3, card.uid).BindBlob(4, SerializeProps(props));
            if (insert.Step() != SQLITE_DONE) return db.ErrorResult();
            id = db.LastInsertId();
            return S_OK;
        };
        for (const ContactCard& card : cards) {
            PropMap props;
            Put(props, StringProp(PR_DISPLAY_NAME_A, ov::Utf8ToAnsi(card.displayName)));
            if (card.isGroup) {
                Put(props, StringProp(PR_ADDRTYPE_A, "MAPIPDL"));
                std::int64_t id = 0;
                if (HRESULT hr = store(card, MAPI_DISTLIST, props, id); FAILED(hr)) return hr;
                groups.emplace_back(&card, id);
                if (!card.uid.empty()) byUid[card.uid] = id;
                ++summary.distributionLists;
                continue;
            }
            auto put = [&](ULONG tag, const std::string& utf8) {
                if (!utf8.empty()) Put(props, StringProp(tag, ov::Utf8ToAnsi(utf8)));
            };
            put(PR_GIVEN_NAME_A, card.givenName);
            put(PR_SURNAME_A, card.surname);
            put(PR_COMPANY_NAME_A, card.company);
            put(PR_DEPARTMENT_NAME_A, card.department);
            put(PR_BUSINESS_TELEPHONE_NUMBER_A, card.telephone);
            put(PR_BUSINESS_FAX_NUMBER_A, card.fax);
            if (!card.fax.empty()) {
                put(PR_ADDRTYPE_A, "FAX");
                put(PR_EMAIL_ADDRESS_A, card.fax);
            } else if (!card.email.empty()) {
                put(PR_ADDRTYPE_A, "SMTP");
                put(PR_EMAIL_ADDRESS_A, card.email);
            } else {
                summary.warnings.push_back("\"" + card.displayName + "\" has no fax number or e-mail address: left out");
                continue;
            }
            std::int64_t id = 0;
            if (HRESULT hr = store(card, MAPI_MAILUSER, props, id); FAILED(hr)) return hr;
            if (!card.uid.empty()) byUid[card.uid] = id;
            if (!card.email.empty()) byEmail[Lower(card.email)] = id;
            ++summary.mailUsers;
        }

        // Membership, refusing any that would make a list contain itself.
        std::function<bool(std::int64_t, std::int64_t, unsigned)> reaches = [&](std::int64_t from, std::int64_t to,
                                                                                unsigned depth) -> bool {
            if (from == to) return true;
            if (depth > 256) return true;  // deeper than any sane nesting: treat as a loop
            Statement members = db.Prepare("SELECT member_id FROM ab_members WHERE list_id = ?");
            members.Bind(1, from);
            std::vector<std::int64_t> next;
            while (members.Step() == SQLITE_ROW) next.push_back(members.Int(0));
            for (std::int64_t member : next)
                if (reaches(member, to, depth + 1)) return true;
            return false;
        };
        for (const auto& [card, listId] : groups) {
            Statement clear = db.Prepare("DELETE FROM ab_members WHERE list_id = ?");
            if (clear.Bind(1, listId).Step() != SQLITE_DONE) return db.ErrorResult();
        }
        for (const auto& [card, listId] : groups) {
            std::int64_t position = 0;
            for (const std::string& member : card->members) {
                std::string reference = Reference(member);
                std::int64_t memberId = 0;
                if (Lower(reference).rfind("mailto:", 0) == 0) {
                    auto found = byEmail.find(Lower(reference.substr(7)));
                    if (found != byEmail.end()) memberId = found->second;
                } else if (auto found = byUid.find(reference); found != byUid.end()) {
                    memberId = found->second;
                } else {
                    Statement existing = db.Prepare("SELECT id FROM ab_entries WHERE uid = ? ORDER BY id LIMIT 1");
                    if (existing.Bind(1, reference).Step() == SQLITE_ROW) memberId = existing.Int(0);
                }
                if (memberId == 0) {
                    summary.warnings.push_back("list \"" + card->displayName + "\": member " + member + " not found");
                    continue;
                }
                if (reaches(memberId, listId, 0)) {
                    summary.warnings.push_back("list \"" + card->displayName + "\": member " + member +
                                               " would make the list contain itself: left out");
                    continue;
                }
                Statement add = db.Prepare("INSERT INTO ab_members(list_id, position, member_id) VALUES(?, ?, ?)");
                if (add.Bind(1, listId).Bind(2, position++).Bind(3, memberId).Step() != SQLITE_DONE) return db.ErrorResult();
            }
        }
        return transaction.Commit();
    });
}

HRESULT ImportVCardFile(const std::filesystem::path& file, std::string_view containerName, ImportSummary& summary) {
    summary = ImportSummary{};
    std::error_code ec;
    auto size = std::filesystem::file_size(file, ec);
    if (ec) {
        summary.warnings.push_back("cannot read " + file.string() + ": " + ec.message());
        return MAPI_E_NOT_FOUND;
    }
    if (size > kMaxInputBytes) {
        summary.warnings.push_back(file.string() + " is larger than 32 MB");
        return MAPI_E_TOO_BIG;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        summary.warnings.push_back("cannot open " + file.string());
        return MAPI_E_NO_ACCESS;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return ImportVCardText(text.str(), containerName, summary);
}

}  // namespace ovmapi
