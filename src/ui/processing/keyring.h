#pragma once
// Publish passwords in the desktop's keyring (QtKeychain: the Secret Service or KWallet), each
// under the project's publishing id and the destination's name, so two projects with a
// destination of the same name keep their own. Nothing is ever written anywhere else: without a
// keyring service (a headless machine, a desktop without one) the calls say so and the caller
// keeps the password for the session only.
//
// Threads: user-interface thread (each call waits for the keyring with a local event loop).
#include <QString>

struct TKeyringAnswer {
  bool Ok = false;          // stored / found / forgotten
  bool Unavailable = false; // no keyring service to ask
  QString Password;         // what was found
  QString Error;            // the keyring's words when not Ok
};

TKeyringAnswer KeyringStore(const QString& publishId, const QString& destination,
                            const QString& password);
// Not Ok and not Unavailable when nothing is stored under that name.
TKeyringAnswer KeyringRead(const QString& publishId, const QString& destination);
TKeyringAnswer KeyringForget(const QString& publishId, const QString& destination);
