#include "hardware/accounts.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>

#include "hardware/small_file.h"

namespace kelmora {
namespace {

// The fields of each line of <root>/etc/group, read as untrusted text.
template <class Visit>
void each_group(const std::filesystem::path& root, Visit visit) {
    const auto text = read_small_file(root / "etc/group", 256 * 1024);
    if (!text) return;
    std::istringstream lines(*text);
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> fields;
        std::istringstream parts(line);
        for (std::string f; std::getline(parts, f, ':');) fields.push_back(f);
        if (fields.size() < 3 || fields[2].empty() || fields[2].size() > 10 ||
            !std::all_of(fields[2].begin(), fields[2].end(),
                         [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        if (fields.size() < 4) fields.emplace_back();
        if (visit(fields)) return;
    }
}

}  // namespace

std::string current_user_name() {
    if (const struct passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_name != nullptr)
        return pw->pw_name;
    return {};
}

std::vector<unsigned> session_group_ids() {
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)));
    groups.resize(static_cast<std::size_t>(
        std::max(::getgroups(static_cast<int>(groups.size()), groups.data()), 0)));
    std::vector<unsigned> ids(groups.begin(), groups.end());
    ids.push_back(::getgid());
    return ids;
}

GroupMembership group_membership(const std::filesystem::path& root, const std::string& name,
                                 const std::string& user, const std::vector<unsigned>& session,
                                 unsigned gid) {
    GroupMembership found;
    each_group(root, [&](const std::vector<std::string>& fields) {
        const unsigned id = static_cast<unsigned>(std::stoul(fields[2]));
        if (name.empty() ? id != gid : fields[0] != name) return false;
        found.exists = true;
        found.name = fields[0];
        found.gid = id;
        std::istringstream members(fields[3]);
        for (std::string m; std::getline(members, m, ',');)
            found.listed = found.listed || (!user.empty() && m == user);
        found.in_session = std::find(session.begin(), session.end(), id) != session.end();
        return true;
    });
    return found;
}

}  // namespace kelmora
