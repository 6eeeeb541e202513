// The PostgreSQL client library is loaded the first time a server catalogue is used, not when
// the program starts. Most runs keep their catalogue in SQLite, and linked directly the library
// would make every start of the program load it and the twenty-odd security and directory
// libraries it depends on, and bind their symbols: about half of the program's start-up work.
// The functions the server engine calls are defined here; each passes its call on to the
// library's own function, looked up once. When the library cannot be loaded, a connection
// cannot be made and says why; nothing else is reached without one.
#include <dlfcn.h>
#include <libpq-fe.h>

namespace {

// The client library, opened once; null when it is not installed.
void* client_library() {
  static void* const handle = ::dlopen("libpq.so.5", RTLD_NOW | RTLD_LOCAL);
  return handle;
}

template <typename Function>
Function* client_function(const char* name) {
  void* library = client_library();
  return library ? reinterpret_cast<Function*>(::dlsym(library, name)) : nullptr;
}

// What a connection that cannot be made says (the library's messages end with a line break).
char* no_library() {
  return const_cast<char*>("the PostgreSQL client library (libpq.so.5) cannot be loaded\n");
}

}  // namespace

// Defines `name` (declared by libpq-fe.h) to call the library's function of that name, or to
// give `fallback` without the library.
#define CW_CLIENT_CALL(result, name, parameters, arguments, fallback)                        \
  extern "C" result name parameters {                                                        \
    static auto* const function = client_function<decltype(::name)>(#name);                 \
    return function ? function arguments : fallback;                                         \
  }

CW_CLIENT_CALL(PGconn*, PQconnectdbParams,
               (const char* const* keywords, const char* const* values, int expand_dbname),
               (keywords, values, expand_dbname), nullptr)
CW_CLIENT_CALL(void, PQfinish, (PGconn * conn), (conn), void())
CW_CLIENT_CALL(ConnStatusType, PQstatus, (const PGconn* conn), (conn), CONNECTION_BAD)
CW_CLIENT_CALL(PGTransactionStatusType, PQtransactionStatus, (const PGconn* conn), (conn),
               PQTRANS_UNKNOWN)
CW_CLIENT_CALL(char*, PQerrorMessage, (const PGconn* conn), (conn), no_library())
CW_CLIENT_CALL(char*, PQuser, (const PGconn* conn), (conn), nullptr)
CW_CLIENT_CALL(char*, PQhost, (const PGconn* conn), (conn), nullptr)
CW_CLIENT_CALL(char*, PQport, (const PGconn* conn), (conn), nullptr)
CW_CLIENT_CALL(char*, PQdb, (const PGconn* conn), (conn), nullptr)
CW_CLIENT_CALL(PQnoticeProcessor, PQsetNoticeProcessor,
               (PGconn * conn, PQnoticeProcessor proc, void* arg), (conn, proc, arg), nullptr)
CW_CLIENT_CALL(PQconninfoOption*, PQconninfoParse, (const char* conninfo, char** errmsg),
               (conninfo, errmsg), (errmsg ? *errmsg = nullptr : nullptr, nullptr))
CW_CLIENT_CALL(void, PQconninfoFree, (PQconninfoOption * options), (options), void())
CW_CLIENT_CALL(void, PQfreemem, (void* ptr), (ptr), void())
CW_CLIENT_CALL(PGresult*, PQexec, (PGconn * conn, const char* query), (conn, query), nullptr)
CW_CLIENT_CALL(PGresult*, PQprepare,
               (PGconn * conn, const char* stmtName, const char* query, int nParams,
                const Oid* paramTypes),
               (conn, stmtName, query, nParams, paramTypes), nullptr)
CW_CLIENT_CALL(PGresult*, PQexecPrepared,
               (PGconn * conn, const char* stmtName, int nParams, const char* const* paramValues,
                const int* paramLengths, const int* paramFormats, int resultFormat),
               (conn, stmtName, nParams, paramValues, paramLengths, paramFormats, resultFormat),
               nullptr)
CW_CLIENT_CALL(void, PQclear, (PGresult * res), (res), void())
CW_CLIENT_CALL(ExecStatusType, PQresultStatus, (const PGresult* res), (res), PGRES_FATAL_ERROR)
CW_CLIENT_CALL(char*, PQresultErrorField, (const PGresult* res, int fieldcode), (res, fieldcode),
               nullptr)
CW_CLIENT_CALL(int, PQntuples, (const PGresult* res), (res), 0)
CW_CLIENT_CALL(int, PQnfields, (const PGresult* res), (res), 0)
CW_CLIENT_CALL(char*, PQfname, (const PGresult* res, int field_num), (res, field_num), nullptr)
CW_CLIENT_CALL(char*, PQgetvalue, (const PGresult* res, int tup_num, int field_num),
               (res, tup_num, field_num), nullptr)
CW_CLIENT_CALL(int, PQgetlength, (const PGresult* res, int tup_num, int field_num),
               (res, tup_num, field_num), 0)
CW_CLIENT_CALL(char*, PQcmdStatus, (PGresult * res), (res), nullptr)
CW_CLIENT_CALL(char*, PQcmdTuples, (PGresult * res), (res), nullptr)
