#include "events/client_table.h"

namespace vexlan {

ClientTable& ClientTable::Instance() {
  static ClientTable* instance = new ClientTable();  // never destroyed: notifiers may read it at exit
  return *instance;
}

ClientTable::ClientTable() {
  for (int i = 0; i < kMaxClients; ++i) entries_[i].index = i;
}

}  // namespace vexlan
