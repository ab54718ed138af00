// cellforge-workload: writes the standard benchmark structures as grid files.
//   cellforge-workload membank [ones|alternating|random] > bank.grd
//   cellforge-workload drivers [GROUPS] > drivers.grd
//   cellforge-workload cars [CARS] > cars.grd
//   cellforge-workload random [PARTS] > random.grd
#include <cstdlib>
#include <iostream>
#include <string>

#include "tools/workloads.h"

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    const std::string kind = argc > 1 ? argv[1] : "";
    if (kind == "membank") {
        workloads::BankOptions o;
        const std::string p = argc > 2 ? argv[2] : "ones";
        o.pattern = p == "alternating" ? workloads::RingPattern::Alternating
                    : p == "random"    ? workloads::RingPattern::Random
                                       : workloads::RingPattern::Ones;
        workloads::writeMemoryBank(std::cout, o);
    } else if (kind == "drivers") {
        workloads::DriverOptions o;
        if (argc > 2) o.groups = std::atoi(argv[2]);
        workloads::writeDrivers(std::cout, o);
    } else if (kind == "cars") {
        workloads::CarOptions o;
        if (argc > 2) o.cars = std::atoi(argv[2]);
        workloads::writeCars(std::cout, o);
    } else if (kind == "random") {
        workloads::RandomOptions o;
        if (argc > 2) o.parts = std::atoll(argv[2]);
        workloads::writeRandomParts(std::cout, o);
    } else {
        std::cerr << "usage: cellforge-workload membank [ones|alternating|random] | drivers [GROUPS] | cars [CARS] | random [PARTS]\n";
        return 2;
    }
    return 0;
}
