#pragma once

#include "ferrow/bus/opc_wire.h"
#include "platform/com/dbus/marshal.h"

namespace ferrow::bus {

// The signature tables of the OPC interfaces, in the slot order of each interface.
namespace tables {
using namespace ferrow::opc;
using namespace platform::com::dbus;
using platform::com::IEnumString;

using Server_AddGroup = Method<"AddGroup", &IOPCServer::AddGroup, In<S>, In<B>, In<U>, In<U>, Opt<I>, Opt<D>,
                               In<U>, Out<U>, Out<U>, Iid, OutItfIid>;
using Server_GetErrorString = Method<"GetErrorString", &IOPCServer::GetErrorString, In<U>, In<U>, Out<S>>;
using Server_GetGroupByName = Method<"GetGroupByName", &IOPCServer::GetGroupByName, In<S>, Iid, OutItfIid>;
using Server_GetStatus = Method<"GetStatus", &IOPCServer::GetStatus, OutPtr<ServerStatusCodec>>;
using Server_RemoveGroup = Method<"RemoveGroup", &IOPCServer::RemoveGroup, In<U>, In<B>>;
using Server_CreateGroupEnumerator =
    Method<"CreateGroupEnumerator", &IOPCServer::CreateGroupEnumerator, In<U>, Iid, OutItfIid>;

using Common_SetLocaleID = Method<"SetLocaleID", &IOPCCommon::SetLocaleID, In<U>>;
using Common_GetLocaleID = Method<"GetLocaleID", &IOPCCommon::GetLocaleID, Out<U>>;
using Common_QueryAvailableLocaleIDs =
    Method<"QueryAvailableLocaleIDs", &IOPCCommon::QueryAvailableLocaleIDs, OutCount, OutArr<U>>;
using Common_GetErrorString = Method<"GetErrorString", &IOPCCommon::GetErrorString, In<U>, Out<S>>;
using Common_SetClientName = Method<"SetClientName", &IOPCCommon::SetClientName, In<S>>;

using Browse_QueryOrganization =
    Method<"QueryOrganization", &IOPCBrowseServerAddressSpace::QueryOrganization, Out<U>>;
using Browse_ChangeBrowsePosition =
    Method<"ChangeBrowsePosition", &IOPCBrowseServerAddressSpace::ChangeBrowsePosition, In<U>, In<S>>;
using Browse_BrowseOPCItemIDs = Method<"BrowseOPCItemIDs", &IOPCBrowseServerAddressSpace::BrowseOPCItemIDs,
                                       In<U>, In<S>, In<Q>, In<U>, Out<ObjectCodec<IEnumString>>>;
using Browse_GetItemID = Method<"GetItemID", &IOPCBrowseServerAddressSpace::GetItemID, In<S>, Out<S>>;
using Browse_BrowseAccessPaths = Method<"BrowseAccessPaths", &IOPCBrowseServerAddressSpace::BrowseAccessPaths,
                                        In<S>, Out<ObjectCodec<IEnumString>>>;

using Properties_QueryAvailableProperties =
    Method<"QueryAvailableProperties", &IOPCItemProperties::QueryAvailableProperties, In<S>, OutCount,
           OutArr<U>, OutArr<S>, OutArr<Q>>;
using Properties_GetItemProperties = Method<"GetItemProperties", &IOPCItemProperties::GetItemProperties,
                                            In<S>, Count, Arr<U>, OutArr<VariantCodec>, OutArr<U>>;
using Properties_LookupItemIDs =
    Method<"LookupItemIDs", &IOPCItemProperties::LookupItemIDs, In<S>, Count, Arr<U>, OutArr<S>, OutArr<U>>;

using Group_GetState = Method<"GetState", &IOPCGroupStateMgt::GetState, Out<U>, Out<B>, Out<S>, Out<I>,
                              Out<D>, Out<U>, Out<U>, Out<U>>;
using Group_SetState =
    Method<"SetState", &IOPCGroupStateMgt::SetState, Opt<U>, Out<U>, Opt<B>, Opt<I>, Opt<D>, Opt<U>, Opt<U>>;
using Group_SetName = Method<"SetName", &IOPCGroupStateMgt::SetName, In<S>>;
using Group_CloneGroup = Method<"CloneGroup", &IOPCGroupStateMgt::CloneGroup, In<S>, Iid, OutItfIid>;

using Items_AddItems =
    Method<"AddItems", &IOPCItemMgt::AddItems, Count, Arr<ItemDefCodec>, OutArr<ItemResultCodec>, OutArr<U>>;
using Items_ValidateItems = Method<"ValidateItems", &IOPCItemMgt::ValidateItems, Count, Arr<ItemDefCodec>,
                                   In<B>, OutArr<ItemResultCodec>, OutArr<U>>;
using Items_RemoveItems = Method<"RemoveItems", &IOPCItemMgt::RemoveItems, Count, Arr<U>, OutArr<U>>;
using Items_SetActiveState =
    Method<"SetActiveState", &IOPCItemMgt::SetActiveState, Count, Arr<U>, In<B>, OutArr<U>>;
using Items_SetClientHandles =
    Method<"SetClientHandles", &IOPCItemMgt::SetClientHandles, Count, Arr<U>, Arr<U>, OutArr<U>>;
using Items_SetDatatypes =
    Method<"SetDatatypes", &IOPCItemMgt::SetDatatypes, Count, Arr<U>, Arr<Q>, OutArr<U>>;
using Items_CreateEnumerator = Method<"CreateEnumerator", &IOPCItemMgt::CreateEnumerator, Iid, OutItfIid>;

using ItemEnum_Next =
    Method<"Next", &IEnumOPCItemAttributes::Next, Capacity, OutArr<ItemAttributesCodec>, OutCount>;
using ItemEnum_Skip = Method<"Skip", &IEnumOPCItemAttributes::Skip, In<U>>;
using ItemEnum_Reset = Method<"Reset", &IEnumOPCItemAttributes::Reset>;
using ItemEnum_Clone =
    Method<"Clone", &IEnumOPCItemAttributes::Clone, Out<ObjectCodec<IEnumOPCItemAttributes>>>;

using Sync_Read = Method<"Read", &IOPCSyncIO::Read, In<U>, Count, Arr<U>, OutArr<ItemStateCodec>, OutArr<U>>;
using Sync_Write = Method<"Write", &IOPCSyncIO::Write, Count, Arr<U>, Arr<VariantCodec>, OutArr<U>>;

using Async_Read = Method<"Read", &IOPCAsyncIO::Read, In<U>, In<U>, Count, Arr<U>, Out<U>, OutArr<U>>;
using Async_Write =
    Method<"Write", &IOPCAsyncIO::Write, In<U>, Count, Arr<U>, Arr<VariantCodec>, Out<U>, OutArr<U>>;
using Async_Refresh = Method<"Refresh", &IOPCAsyncIO::Refresh, In<U>, In<U>, Out<U>>;
using Async_Cancel = Method<"Cancel", &IOPCAsyncIO::Cancel, In<U>>;

using Async2_Read = Method<"Read", &IOPCAsyncIO2::Read, Count, Arr<U>, In<U>, Out<U>, OutArr<U>>;
using Async2_Write =
    Method<"Write", &IOPCAsyncIO2::Write, Count, Arr<U>, Arr<VariantCodec>, In<U>, Out<U>, OutArr<U>>;
using Async2_Refresh2 = Method<"Refresh2", &IOPCAsyncIO2::Refresh2, In<U>, In<U>, Out<U>>;
using Async2_Cancel2 = Method<"Cancel2", &IOPCAsyncIO2::Cancel2, In<U>>;
using Async2_SetEnable = Method<"SetEnable", &IOPCAsyncIO2::SetEnable, In<B>>;
using Async2_GetEnable = Method<"GetEnable", &IOPCAsyncIO2::GetEnable, Out<B>>;

using Callback_OnDataChange =
    Method<"OnDataChange", &IOPCDataCallback::OnDataChange, In<U>, In<U>, In<U>, In<U>, Count, Arr<U>,
           Arr<VariantCodec>, Arr<Q>, Arr<FileTimeCodec>, Arr<U>>;
using Callback_OnReadComplete =
    Method<"OnReadComplete", &IOPCDataCallback::OnReadComplete, In<U>, In<U>, In<U>, In<U>, Count, Arr<U>,
           Arr<VariantCodec>, Arr<Q>, Arr<FileTimeCodec>, Arr<U>>;
using Callback_OnWriteComplete =
    Method<"OnWriteComplete", &IOPCDataCallback::OnWriteComplete, In<U>, In<U>, In<U>, Count, Arr<U>, Arr<U>>;
using Callback_OnCancelComplete =
    Method<"OnCancelComplete", &IOPCDataCallback::OnCancelComplete, In<U>, In<U>>;

using Shutdown_ShutdownRequest = Method<"ShutdownRequest", &IOPCShutdown::ShutdownRequest, In<S>>;
}  // namespace tables

// Registers the OPC tables and the platform's (idempotent), and names the bus name of Ferrow's class for
// activation.
void registerOpcTables();
// For an OPC client program: the tables, and CoCreateInstance/CoGetClassObject of Ferrow's class with
// CLSCTX_LOCAL_SERVER reaching Ferrow on the session bus (started by the bus when it is not running).
void enableFerrowActivation();

}  // namespace ferrow::bus
