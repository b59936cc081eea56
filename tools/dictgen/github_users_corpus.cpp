// User records as a code-hosting site's REST interface returns them: the same
// long list of URL fields around each login.
#include "corpora.h"
#include "json_writer.h"

namespace dictgen {
namespace {

constexpr std::string_view url_fields[] = {
    "followers",      "following{/other_user}", "gists{/gist_id}", "starred{/owner}{/repo}",
    "subscriptions",  "organizations",          "repos",           "events{/privacy}",
    "received_events"};

std::string login(Corpus& c) {
    Corpus name(c.next());
    writeLogin(name);
    return name.text();
}

}  // namespace

void writeGithubUserSample(Corpus& c) {
    std::string user = login(c);
    uint64_t id = c.between(1000, 99999999);
    JsonWriter w(c, 2);
    w.beginObject();
    w.key("login").string(user);
    w.key("id").number(id);
    w.key("node_id").openString() << "MDQ6VXNlcj";
    c.hex(6);
    w.closeString();
    w.key("avatar_url").openString() << "https://avatars.githubusercontent.com/u/" << id << "?v=4";
    w.closeString();
    w.key("gravatar_id").string("");
    w.key("url").openString() << "https://api.github.com/users/" << user;
    w.closeString();
    w.key("html_url").openString() << "https://github.com/" << user;
    w.closeString();
    for (std::string_view field : url_fields) {
        std::string_view name = field.substr(0, field.find('{'));
        std::string key(name);
        key += "_url";
        w.key(key).openString() << "https://api.github.com/users/" << user << '/' << field;
        w.closeString();
    }
    w.key("type").string("User");
    w.key("site_admin").literal("false");
    w.key("name").stringFrom(writeFullName);
    w.key("company").literal("null");
    w.key("blog").string("");
    w.key("location").string(pickCity(c));
    w.key("email").literal("null");
    w.key("hireable").literal("null");
    w.key("bio").literal("null");
    w.key("public_repos").number(c.between(0, 200));
    w.key("public_gists").number(c.between(0, 50));
    w.key("followers").number(c.between(0, 5000));
    w.key("following").number(c.between(0, 300));
    w.key("created_at");
    w.openString().isoTimestamp();
    w.closeString();
    w.key("updated_at");
    w.openString().isoTimestamp();
    w.closeString();
    w.endObject();
    c << '\n';
}

const std::string_view github_users_core =
    "{\"login\":\"\",\"id\":0,\"node_id\":\"\",\"avatar_url\":\"https://avatars.githubusercontent.com/u/\","
    "\"gravatar_id\":\"\",\"url\":\"https://api.github.com/users/\",\"html_url\":\"https://github.com/\","
    "\"type\":\"User\",\"site_admin\":false}\n";

}  // namespace dictgen
