// The wire format of remote calls: one JSON object per line.
#include <nlohmann/json.hpp>

#include "ovcom/remote.h"

namespace ov::com {

using nlohmann::json;

namespace {

json VariantToJson(const Variant& value) {
    return std::visit(
        [](const auto& v) -> json {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::monostate>) {
                return nullptr;
            } else {
                return v;
            }
        },
        value);
}

std::optional<Variant> VariantFromJson(const json& value) {
    switch (value.type()) {
        case json::value_t::null:
            return Variant{};
        case json::value_t::boolean:
            return Variant{value.get<bool>()};
        case json::value_t::number_integer:
        case json::value_t::number_unsigned: {
            // Integers beyond 32 bits are refused rather than truncated.
            if (value.is_number_unsigned()) {
                auto u = value.get<std::uint64_t>();
                if (u > 0x7FFFFFFFu) return std::nullopt;
                return Variant{static_cast<std::int32_t>(u)};
            }
            auto i = value.get<std::int64_t>();
            if (i < INT32_MIN || i > INT32_MAX) return std::nullopt;
            return Variant{static_cast<std::int32_t>(i)};
        }
        case json::value_t::number_float:
            return Variant{value.get<double>()};
        case json::value_t::string:
            return Variant{value.get<std::string>()};
        default:
            return std::nullopt;
    }
}

std::optional<json> ParseLine(std::string_view line) {
    if (line.size() > kMaxMessageBytes) return std::nullopt;
    json parsed = json::parse(line, nullptr, /*allow_exceptions=*/false);
    if (parsed.is_discarded() || !parsed.is_object()) return std::nullopt;
    return parsed;
}

}  // namespace

std::string EncodeRequest(const Request& request) {
    json j;
    if (request.kind == Request::Kind::Names) {
        j["op"] = "names";
        j["names"] = request.names;
    } else {
        j["op"] = "invoke";
        j["member"] = request.member;
        j["flags"] = request.flags;
        json args = json::array();
        for (const auto& a : request.args) args.push_back(VariantToJson(a));
        j["args"] = std::move(args);
    }
    // Invalid UTF-8 in a text is replaced, never a reason to fail the call.
    return j.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::optional<Request> DecodeRequest(std::string_view line) {
    auto j = ParseLine(line);
    if (!j) return std::nullopt;
    auto op = j->find("op");
    if (op == j->end() || !op->is_string()) return std::nullopt;
    Request request;
    if (*op == "names") {
        auto names = j->find("names");
        if (names == j->end() || !names->is_array()) return std::nullopt;
        request.kind = Request::Kind::Names;
        for (const auto& n : *names) {
            if (!n.is_string()) return std::nullopt;
            request.names.push_back(n.get<std::string>());
        }
        return request;
    }
    if (*op == "invoke") {
        auto member = j->find("member");
        auto flags = j->find("flags");
        auto args = j->find("args");
        if (member == j->end() || !member->is_number_integer() || flags == j->end() ||
            !flags->is_number_unsigned() || args == j->end() || !args->is_array()) {
            return std::nullopt;
        }
        auto id = member->get<std::int64_t>();
        auto f = flags->get<std::uint64_t>();
        if (id < INT32_MIN || id > INT32_MAX || f > 0xFFFF) return std::nullopt;
        request.kind = Request::Kind::Invoke;
        request.member = static_cast<DISPID>(id);
        request.flags = static_cast<WORD>(f);
        for (const auto& a : *args) {
            auto v = VariantFromJson(a);
            if (!v) return std::nullopt;
            request.args.push_back(std::move(*v));
        }
        return request;
    }
    return std::nullopt;
}

std::string EncodeReply(const Reply& reply) {
    json j;
    j["hr"] = reply.hr;
    j["ids"] = reply.ids;
    j["result"] = VariantToJson(reply.result);
    return j.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::optional<Reply> DecodeReply(std::string_view line) {
    auto j = ParseLine(line);
    if (!j) return std::nullopt;
    auto hr = j->find("hr");
    auto ids = j->find("ids");
    auto result = j->find("result");
    if (hr == j->end() || !hr->is_number_integer() || ids == j->end() || !ids->is_array() ||
        result == j->end()) {
        return std::nullopt;
    }
    Reply reply;
    auto code = hr->get<std::int64_t>();
    if (code < INT32_MIN || code > INT32_MAX) return std::nullopt;
    reply.hr = static_cast<HRESULT>(code);
    for (const auto& id : *ids) {
        if (!id.is_number_integer()) return std::nullopt;
        reply.ids.push_back(static_cast<DISPID>(id.get<std::int64_t>()));
    }
    auto v = VariantFromJson(*result);
    if (!v) return std::nullopt;
    reply.result = std::move(*v);
    return reply;
}

}  // namespace ov::com
