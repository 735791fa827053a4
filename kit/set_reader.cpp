// Placeholder until this job is built.
#include "set_reader.h"
bool open_set_reader(SetReader&, const KitSet&) {
    return false;
}
void close_set_reader(SetReader&) {}
bool next_instance(SetReader&, InstanceHead&) {
    return false;
}
bool next_object(SetReader&, std::vector<Defect>&) {
    return false;
}
