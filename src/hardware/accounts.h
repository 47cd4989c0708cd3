// The user running kelmora and the groups of the machine below a root: who is
// listed in a group's line of etc/group, and whether this session has it yet
// (a group joined counts from the next login).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace kelmora {

// The user running kelmora, by name; empty when unknown.
std::string current_user_name();

// The group IDs of this process (its supplementary groups and its own).
std::vector<unsigned> session_group_ids();

struct GroupMembership {
    bool exists = false;  // the group has a line in etc/group
    std::string name;     // as that line names it
    unsigned gid = 0;
    bool listed = false;      // the line lists `user`
    bool in_session = false;  // this process has the group now
};
// The group named `name`, or with the ID `gid` when `name` is empty, in
// <root>/etc/group, and `user`'s place in it. `session` are the IDs the
// session has (session_group_ids()).
GroupMembership group_membership(const std::filesystem::path& root, const std::string& name,
                                 const std::string& user, const std::vector<unsigned>& session,
                                 unsigned gid = 0);

}  // namespace kelmora
