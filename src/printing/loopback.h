// Printers on this machine's own loopback addresses. ipp-usb serves USB
// printers there, but any local user may listen on a free loopback port as
// well, and CUPS's programs trust a loopback peer (libcups offers root's local
// certificate to one that asks). A loopback printer is therefore only one that
// root serves. Pure, apart from what the caller reads.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelmora {

struct UriHost {
    std::string host;  // without the brackets of an IPv6 address
    unsigned port = 0;
};

// The host and port of an ipp:// or ipps:// address (631 when it names none);
// none when the authority does not parse.
std::optional<UriHost> uri_host_port(std::string_view uri);

// True for a numeric loopback address: 127.0.0.0/8, ::1, ::ffff:127.x.y.z.
bool is_loopback_address(std::string_view numeric);

// The owners (uids) of the sockets that listen on `port` in a table as
// /proc/net/tcp and /proc/net/tcp6 print it; lines that do not parse are
// skipped.
std::vector<unsigned> listening_owners(std::string_view table, unsigned port);

// A DNS-SD service instance as driverless names a printer
// ("ipp://Brother%20HL._ipp._tcp.local/"): cupsd resolves it through Avahi,
// so its address is only known from there.
struct ServiceInstance {
    std::string name;  // percent-decoded
    std::string type;  // "_ipp._tcp" or "_ipps._tcp"
};
// The instance a URI host names; none for an ordinary host name or address.
std::optional<ServiceInstance> service_instance(std::string_view host);

// The addresses and ports "avahi-browse -p -r -t TYPE" resolved for
// `instance` ("=" lines whose name, unescaped, is the instance's). A line
// that does not split as avahi writes it may still count: a forged one can
// only make the helper refuse, never accept.
std::vector<UriHost> resolved_instances(std::string_view parsable, const ServiceInstance& instance);

}  // namespace kelmora
