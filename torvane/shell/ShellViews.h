// The views this build has, registered with a view factory by the kind of
// tree item that opens them. Kinds whose views are not built stay empty and
// their items open nothing.
#pragma once

class CViewFactory;

void RegisterBuiltViews(CViewFactory& factory);
