// What the network commands of the BMC may leave behind, checked after every
// command a fuzz target runs; any breach aborts (fail()).
//
//  - The netplan file, when it exists, has exactly the lines of the template
//    of the current addressing mode: same count, same indentation and keys
//    (a '#' directly before a key is allowed), and behind each key only what
//    a setter may write: "yes"/"no" for dhcp4 (never behind '#'), one
//    address for gateway4, "[address/prefix]" for the interface and
//    "[a,b]", "[a]" or "[b] #[x.x.x.x,b]" for the name servers, where an
//    address is a dotted quad inet_pton(AF_INET) accepts. The placeholder
//    x.x.x.x stands only behind '#' ("[x.x.x.x,x.x.x.x]" for no name
//    server). "nameservers:" is behind '#' exactly when its list is. Lines
//    without a key are unchanged.
//  - Every command line is "netplan generate --root-dir <the daemon's
//    folder>/generate-XXXXXX", "netplan apply" right after one, or
//    "hostnamectl set-hostname <name>" with a name of at most 64 characters
//    in dot-separated labels of 1 to 63 letters, digits and hyphens, none
//    starting or ending with a hyphen.
#pragma once

namespace nk_fuzz {

// Resets the network module: the given mode and a fresh template file.
void reset_network(bool static_mode);

void check_network_effects();

}  // namespace nk_fuzz
