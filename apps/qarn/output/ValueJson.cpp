#include <qarn/output/ValueJson.h>

#include <cmath>

namespace qarn {

nlohmann::json toJson(const DecodedValue& value) {
    if (value.shape == DecodedValue::Shape::Text || value.shape == DecodedValue::Shape::Binary) {
        return value.text;
    }
    nlohmann::json list = nlohmann::json::array();
    for (const Element& e : value.items) {
        switch (e.kind) {
            case Element::Bool:
                list.push_back(e.u != 0);
                break;
            case Element::Signed:
                list.push_back(e.i);
                break;
            case Element::Unsigned:
                list.push_back(e.u);
                break;
            case Element::Real:
                // JSON has no NaN or infinity.
                list.push_back(std::isfinite(e.d) ? nlohmann::json(e.d) : nlohmann::json());
                break;
        }
    }
    if (value.shape == DecodedValue::Shape::Scalar) {
        return list.empty() ? nlohmann::json() : list[0];
    }
    return list;
}

nlohmann::json hexJson(const DecodedValue& value) {
    if (value.items.empty() || !value.items[0].isInteger()) {
        return nlohmann::json();
    }
    nlohmann::json list = nlohmann::json::array();
    for (const Element& e : value.items) {
        list.push_back(e.hex());
    }
    return value.shape == DecodedValue::Shape::Scalar ? list[0] : list;
}

std::string jsonText(const nlohmann::json& json, int indent) {
    return json.dump(indent, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace qarn
