#include "support/apache_peer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace fakes {

namespace {

const char kModules[] = "/usr/lib/apache2/modules";

}  // namespace

bool ApachePeer::WriteConfig() {
    const std::string& dir = Dir();
    std::ostringstream conf;
    conf << "ServerRoot \"" << dir << "\"\n"
         << "ServerName 127.0.0.1\n"
         << "Listen 127.0.0.1:" << Port() << "\n"
         << "PidFile \"" << dir << "/apache.pid\"\n"
         << "DefaultRuntimeDir \"" << dir << "\"\n"
         << "ErrorLog \"" << dir << "/error.log\"\n";
    for (const char* module : {"mpm_prefork", "authn_core", "authn_file", "authz_core", "authz_user", "auth_digest",
                               "headers", "rewrite"}) {
        conf << "LoadModule " << module << "_module " << kModules << "/mod_" << module << ".so\n";
    }
    // Apache serves as root only when built to; the site is made readable.
    if (geteuid() == 0) conf << "User nobody\nGroup nogroup\n";
    conf << "StartServers 1\nMinSpareServers 1\nMaxSpareServers 2\n"
         << "DocumentRoot \"" << dir << "/www\"\n"
         << "LogFormat \"%{Authorization}i\" authorization\n"
         << "CustomLog \"" << dir << "/authorization.log\" authorization\n"
         << "RewriteEngine On\n"
         << "RewriteRule \"^(/PSIA/[^?]*)$\" \"$1.xml\" [PT]\n"
         << "<Location \"/\">\n"
         << "  AuthType Digest\n"
         << "  AuthName \"" << kRealm << "\"\n"
         << "  AuthDigestProvider file\n"
         << "  AuthUserFile \"" << dir << "/users\"\n"
         << "  AuthDigestNonceLifetime " << kNonceLifetimeSeconds << "\n"
         << "  Require valid-user\n"
         << "</Location>\n"
         // Added to the error headers ahead of mod_auth_digest's challenge.
         << "Header always add WWW-Authenticate \"Basic realm=\\\"" << kRealm << "\\\"\"\n";
    return chmod(dir.c_str(), 0755) == 0 && WriteFile("apache.conf", conf.str());
}

std::vector<std::string> ApachePeer::Command() const {
    return {"/usr/sbin/apache2", "-DFOREGROUND", "-f", Dir() + "/apache.conf"};
}

std::vector<std::string> ApachePeer::Authorizations() const {
    std::ifstream in(Dir() + "/authorization.log");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

}  // namespace fakes
