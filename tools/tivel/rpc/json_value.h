// Values of the object runtime as JSON, both ways, in the encoding the tivel
// host speaks: strings, numbers (integral within 32 bits: Long, otherwise
// Double), booleans, null (Null), arrays (Array), and the tagged objects
// {"empty":true}, {"date":"YYYY-MM-DD HH:MM:SS"}, {"bytes":"<base64>"} and
// {"object":H} ({"object":null} is Nothing).
#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "platform/com/variant.h"
#include "tools/tivel/rpc/handles.h"

namespace tivel::tool {

// JSON whose object members keep the order they were written in.
using Json = nlohmann::ordered_json;

// The compact text of a JSON value, as every answer is written: invalid
// UTF-8 in a string is replaced, never a failure of the answer.
inline std::string jsonText(const Json& j) { return j.dump(-1, ' ', false, Json::error_handler_t::replace); }

// The deepest nesting of arrays and objects a JSON text may have here; deeper
// texts are refused before they are parsed, so that no reader recurses
// without bound.
inline constexpr int kMaxJsonNesting = 64;

// The deepest nesting of arrays and objects in a JSON text (brackets inside
// strings do not count). The text need not be valid JSON.
int jsonNesting(std::string_view text);

// The JSON form of a value. Each object it holds gets a new handle in
// `handles` and is written {"object":H,"class":"ClassName"}. Fails with
// badRequest for a Double that is not finite (JSON has no form for it).
Json toJson(const com::Variant& value, HandleTable& handles);

// The handle a JSON form names: an integer H, or {"from":ID} for the object
// the earlier request with id ID answered. Fails with badRequest otherwise.
int64_t handleFromJson(const Json& json, const HandleTable& handles);

// The value a JSON form stands for; {"object":H} looks H up in `handles`
// (a "class" member beside it is ignored), {"from":ID} is what the earlier
// request ID answered (an object or a value). Fails with badRequest for a
// form that is no value, an invalid date or base64 text, or an unknown handle.
com::Variant fromJson(const Json& json, const HandleTable& handles);

// An argument of a call: a value, {"ref":V} (V passed by reference) or
// {"missing":true} (an omitted optional argument). Sets *byRef accordingly.
com::Variant argumentFromJson(const Json& json, const HandleTable& handles, bool* byRef);

}  // namespace tivel::tool
