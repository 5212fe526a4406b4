// The fake server with its GSSAPI mechanism as a process of its own, for
// clients in other languages (pyodbc):
//   fake_gss_server KEYTAB     prints the port, serves until stdin closes
#include <cstdio>
#include <iostream>
#include <string>

#include "fake_gss.h"
#include "fake_server.h"

int main(int argc, char **argv) {
    if (argc != 2) {
        std::cerr << "usage: fake_gss_server KEYTAB\n";
        return 2;
    }
    tarn_fake::FakeServer server;
    auto gss = tarn_fake::enable_gssapi(server, {argv[1]});
    std::cout << server.port() << std::endl;
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    server.stop();
    return 0;
}
