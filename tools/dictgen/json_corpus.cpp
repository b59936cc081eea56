// JSON documents as APIs, logs, configurations and geodata write them.
#include "corpora.h"
#include "json_writer.h"

namespace dictgen {
namespace {

constexpr std::string_view statuses[] = {"active", "inactive", "pending", "completed", "failed", "draft", "published"};
constexpr std::string_view levels[] = {"info", "info", "debug", "warn", "error"};
constexpr std::string_view currencies[] = {"USD", "EUR", "GBP", "JPY"};
constexpr std::string_view categories[] = {"books", "electronics", "clothing", "home", "sports", "toys", "food"};
constexpr std::string_view methods[] = {"GET", "GET", "POST", "PUT", "DELETE", "PATCH"};
constexpr std::string_view paths[] = {"users", "orders", "products", "items", "accounts", "events", "posts"};
constexpr std::string_view packages[] = {"react",    "lodash", "express", "axios",        "typescript", "webpack",
                                         "eslint",   "jest",   "moment",  "chalk",        "dotenv",     "uuid",
                                         "prettier", "vue",    "next",    "babel-loader", "cors",       "mongoose"};

unsigned indentOf(Corpus& c) {
    static constexpr unsigned indents[] = {2, 2, 2, 4, 0, 0};
    return indents[c.below(6)];
}

void url(JsonWriter& w, std::string_view path, uint64_t id) {
    Corpus& c = w.openString();
    c << "https://api." << pickDomain(c) << "/v1/" << path << '/' << id;
    w.closeString();
}

void timestamp(JsonWriter& w) {
    w.openString().isoTimestamp();
    w.closeString();
}

void person(JsonWriter& w, Corpus& c) {
    uint64_t id = c.between(1, 99999);
    w.beginObject();
    w.key("id").number(id);
    w.key("name").stringFrom(writeFullName);
    w.key("username").stringFrom(writeLogin);
    w.key("email").openString();
    writeLogin(c);
    c << '@' << pickDomain(c);
    w.closeString();
    if (c.chance(50)) {
        w.key("address").beginObject();
        w.key("street").openString() << c.between(1, 999) << ' ' << pickNoun(c) << " Street";
        w.closeString();
        w.key("city").string(pickCity(c));
        w.key("zipcode").openString() << c.between(10000, 99999);
        w.closeString();
        w.endObject();
    }
    w.key("status").string(c.pick(statuses));
    w.key("created_at");
    timestamp(w);
    w.key("updated_at");
    timestamp(w);
    w.endObject();
}

void product(JsonWriter& w, Corpus& c) {
    w.beginObject();
    w.key("id").number(c.between(1, 99999));
    w.key("sku").openString().hex(8);
    w.closeString();
    w.key("title").stringFrom(writeTitle);
    w.key("description").stringFrom(writeSentence);
    w.key("price").decimal(c.between(99, 99999), 2);
    w.key("currency").string(c.pick(currencies));
    w.key("quantity").number(c.between(0, 20));
    w.key("in_stock").literal(c.chance(70) ? "true" : "false");
    w.key("category").string(c.pick(categories));
    w.key("tags").beginArray();
    for (uint64_t i = c.between(0, 3); i; --i) w.string(pickNoun(c));
    w.endArray();
    w.key("image").beginObject();
    w.key("url").openString() << "https://cdn." << pickDomain(c) << "/images/";
    c.hex(12) << ".jpg";
    w.closeString();
    uint64_t width = c.pickNumber({640, 800, 1024, 1280});
    w.key("width").number(width);
    w.key("height").number(width * 3 / 4);
    w.endObject();
    w.endObject();
}

void listResponse(Corpus& c) {
    JsonWriter w(c, indentOf(c));
    std::string_view path = c.pick(paths);
    uint64_t page = c.between(1, 5), per_page = 20, total = c.between(21, 500);
    w.beginObject();
    w.key("data").beginArray();
    for (uint64_t i = c.between(1, 3); i; --i) (c.chance(50) ? person : product)(w, c);
    w.endArray();
    w.key("meta").beginObject();
    w.key("page").number(page);
    w.key("per_page").number(per_page);
    w.key("total").number(total);
    w.key("total_pages").number((total + per_page - 1) / per_page);
    w.endObject();
    w.key("links").beginObject();
    w.key("self");
    url(w, path, page);
    w.key("next");
    if (c.chance(70))
        url(w, path, page + 1);
    else
        w.literal("null");
    w.endObject();
    w.endObject();
    c << '\n';
}

void logLines(Corpus& c) {
    for (uint64_t i = c.between(2, 6); i; --i) {
        JsonWriter w(c, 0);
        w.beginObject();
        w.key("timestamp");
        timestamp(w);
        w.key("level").string(c.pick(levels));
        w.key("message").stringFrom(writeSentence);
        w.key("service").string(c.pick({"api", "auth", "worker", "gateway", "billing"}));
        w.key("method").string(c.pick(methods));
        w.key("path").openString() << "/api/v1/" << c.pick(paths) << '/' << c.between(1, 9999);
        w.closeString();
        w.key("status").number(c.pickNumber({200, 200, 201, 204, 400, 404, 500}));
        w.key("duration_ms").number(c.between(1, 900));
        w.key("request_id").stringFrom(writeUuid);
        w.endObject();
        c << '\n';
    }
}

void geoFeatures(Corpus& c) {
    JsonWriter w(c, indentOf(c));
    w.beginObject();
    w.key("type").string("FeatureCollection");
    w.key("features").beginArray();
    for (uint64_t i = c.between(1, 3); i; --i) {
        w.beginObject();
        w.key("type").string("Feature");
        w.key("geometry").beginObject();
        w.key("type").string("Point");
        w.key("coordinates").beginArray();
        w.literal("-");
        c.fixed(c.between(0, 1799999), 4);
        w.decimal(c.between(0, 899999), 4);
        w.endArray();
        w.endObject();
        w.key("properties").beginObject();
        w.key("name").string(pickCity(c));
        w.key("population").number(c.between(1000, 9000000));
        w.key("category").string(c.pick(categories));
        w.endObject();
        w.endObject();
    }
    w.endArray();
    w.endObject();
    c << '\n';
}

void packageManifest(Corpus& c) {
    JsonWriter w(c, 2);
    w.beginObject();
    w.key("name").stringFrom(writeSlug);
    w.key("version").openString() << c.between(0, 4) << '.' << c.between(0, 20) << '.' << c.between(0, 9);
    w.closeString();
    w.key("description").stringFrom(writeSentence);
    w.key("main").string("index.js");
    w.key("scripts").beginObject();
    w.key("start").string("node index.js");
    w.key("build").string("webpack --mode production");
    w.key("test").string("jest");
    w.endObject();
    for (std::string_view group : {std::string_view("dependencies"), std::string_view("devDependencies")}) {
        w.key(group).beginObject();
        for (uint64_t i = c.between(1, 4); i; --i) {
            w.key(c.pick(packages)).openString() << '^' << c.between(1, 18) << '.' << c.between(0, 12) << ".0";
            w.closeString();
        }
        w.endObject();
    }
    w.key("license").string("MIT");
    w.key("private").literal("true");
    w.endObject();
    c << '\n';
}

void errorResponse(Corpus& c) {
    JsonWriter w(c, indentOf(c));
    w.beginObject();
    w.key("error").beginObject();
    w.key("code").number(c.pickNumber({400, 401, 403, 404, 409, 422, 500}));
    w.key("message").string(c.pick({"Not Found", "Bad Request", "Unauthorized", "Validation failed"}));
    w.key("details").beginArray();
    w.beginObject();
    w.key("field").string(c.pick({"email", "name", "password", "id", "type"}));
    w.key("reason").string(c.pick({"required", "invalid", "too_long", "already_exists"}));
    w.endObject();
    w.endArray();
    w.endObject();
    w.key("success").literal("false");
    w.endObject();
    c << '\n';
}

}  // namespace

void writeJsonSample(Corpus& c) {
    switch (c.below(8)) {
        case 0:
        case 1:
        case 2: listResponse(c); break;
        case 3:
        case 4: logLines(c); break;
        case 5: geoFeatures(c); break;
        case 6: packageManifest(c); break;
        default: errorResponse(c); break;
    }
}

const std::string_view json_core =
    "{\"id\":1,\"type\":\"object\",\"name\":\"\",\"title\":\"\",\"description\":\"\",\"value\":null,"
    "\"status\":\"active\",\"enabled\":true,\"count\":0,\"items\":[],\"data\":{},\"error\":null,"
    "\"message\":\"success\",\"success\":true,\"code\":200,\"url\":\"https://"
    "\",\"created_at\":\"2024-01-01T00:00:00Z\","
    "\"updated_at\":\"2024-01-01T00:00:00.000Z\",\"user_id\":\"\",\"email\":\"\",\"tags\":[\"\"],\"version\":\"1.0.0\"}"
    "\n"
    "{\n  \"id\": \"\",\n  \"type\": \"\",\n  \"name\": \"\",\n  \"value\": 0,\n  \"enabled\": false,\n"
    "  \"items\": [\n    {\n      \"id\": 1,\n      \"name\": \"\"\n    },\n    {\n      \"id\": 2,\n"
    "      \"name\": null\n    }\n  ],\n  \"metadata\": {}\n}\n"
    "[{\"id\":0,\"key\":\"\",\"value\":\"\"},{\"id\":1,\"key\":\"\",\"value\":\"\"}]\n";

}  // namespace dictgen
