// The management component's per-thread module state and its start-up.
#pragma once

#include <string>

#include "platform/ado/connection.h"
#include "platform/component/component.h"

namespace tivel::mgt {

// The component's name, INI file, log and connection form for the shared plumbing.
const component::Identity& identity();

// The directory of the TivelMgt library (or R/bin under TIVEL_HOME=R).
std::string componentDir();

// Runs the thread's start-up once (configuration path, shared connection).
// On failure it logs "！连接数据库出错,请检查配置文件是否正确！" and throws
// 0x80040001 "连接数据库出错！"; a later call on the same thread tries again.
// Every class of the component calls it when an object is created.
void startUp();

// The thread's configuration path: componentDir() + "/../ini/SysTivel.ini".
const std::string& configPath();

// The thread's shared connection; fails (0x80040001) when the thread is not started.
const ado::ConnectionPtr& sharedConnection();

// Drops this thread's module state (for tests that switch roots on one thread).
void resetThreadState();

// Installs this thread's shared connection (OpenDatabase uses it for the connection it opens).
void setSharedConnection(ado::ConnectionPtr c);

}  // namespace tivel::mgt
