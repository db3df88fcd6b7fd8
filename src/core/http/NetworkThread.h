#pragma once

#include <QObject>

#include <functional>

// The one thread on which every transfer's sockets, parsers and connection
// pool live, with an event loop of its own. It starts on first use and stops
// when the application object goes away; work posted after that is dropped.
// Every function here is safe to call from any thread.
class NetworkThread {
public:
    // Runs `work` on the network thread, later, without waiting.
    static void post(std::function<void()> work);
    // Runs `work` on the network thread and waits for it; runs it at once
    // when called on the network thread.
    static void postAndWait(const std::function<void()>& work);
    static bool isCurrent();
    // An object that lives on the network thread: the parent and the context
    // of everything that must live there.
    static QObject* context();
};

// Delivery of work to the main thread (the thread of the application object).
// Safe to call from any thread.
class MainThread {
public:
    static bool isCurrent();
    // Runs `work` at once when called on the main thread, else posts it
    // without waiting: "wait only when already on the main thread".
    static void run(const std::function<void()>& work);
    // Always posts, even from the main thread.
    static void post(std::function<void()> work);
    // Runs `work` on the main thread and waits for it to return.
    static void runAndWait(const std::function<void()>& work);
};
