// LinkCore: everything in one include.
#ifndef LINKCORE_LINKCORE_H
#define LINKCORE_LINKCORE_H

#include "LinkCoreExport.h"
#include "WSNConfig.h"
#include "DataFile.h"
#include "LogBuf.h"
#include "ChannelSet.h"
#include "CCOM.h"
#include "CLinkCore.h"
#include "CProtocolTemplate.h"

#endif
