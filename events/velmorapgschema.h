#ifndef VELMORAPGSCHEMA_H
#define VELMORAPGSCHEMA_H

class QString;
class VelmoraPgConnection;

// The tables of the journal in PostgreSQL: made on the first start, brought
// up to this program's version on a later one.
class VelmoraPgSchema
{
public:
    // The schema this program makes and reads.
    static constexpr int kVersion = 2;

    // Creates the tables, or upgrades them, in one transaction that other
    // instances starting at the same time wait for. False with the reason,
    // also when the database was made by a newer program.
    static bool prepare(VelmoraPgConnection &connection, QString *error);
};

#endif // VELMORAPGSCHEMA_H
