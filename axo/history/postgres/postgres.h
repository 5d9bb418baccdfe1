// The history warehouse: a PostgreSQL server many agents share. The only
// part that links libpq.
#ifndef AXO_HISTORY_POSTGRES_POSTGRES_H_
#define AXO_HISTORY_POSTGRES_POSTGRES_H_

#include <memory>

#include "axo/base/status.h"
#include "axo/history/store/store.h"

namespace axo {

// The warehouse back end: a PostgreSQL server, HistoryOptions::path being a
// connection URI. Tables are partitioned by day on the row's own time.
std::unique_ptr<HistoryWriter> NewPostgresHistoryWriter();

// The back end's answer to a history query (the checks of HistoryQuery's
// fields other than names are done). A name not in the store is kBadRequest.
Status PostgresHistoryQuery(const HistoryOptions& store, const HistoryQuery& query,
                            HistoryAnswer* answer);

}  // namespace axo

#endif  // AXO_HISTORY_POSTGRES_POSTGRES_H_
