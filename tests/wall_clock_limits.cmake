# SPDX-License-Identifier: GPL-2.0-or-later
# Tests that run alone: their limits are the seconds a filter or thread takes
# to react (to a cancel, an end flag, a stop), set just below the wait that a
# fault would cost, so that more slack would let the fault pass. With other
# tests beside them on a busy machine they would measure the load instead.
# ctest reads this after the discovered tests; a name it does not know (a
# program not built) is passed over.
foreach(test IN ITEMS
    # Unit: the liaison threads' stops and schedules, the device-ID wait.
    KeepAlive.WaitWithoutAThreadRaisesTheFlagAndReturnsAtOnce
    KeepAlive.NetworkPrinterGetsAKeepAliveAtOnceThenOnceEveryCycle
    KeepAlive.ASilentPrinterCostsOneReplyWaitPerKeepAlive
    KeepAlive.ACancelledJobEndsTheThreadWithinACycle
    KeepAlive.AStopFromOutsideEndsTheReplyWaitAndClosesTheSocket
    KeepAlive.AThreadThatCannotBeJoinedIsStoppedAfterAShortGrace
    KeepAlive.UsbPrinterIsHeldUntilTheJobEnds
    CancelWatcher.NetworkWatcherPollsOnUntilThePrinterCancelsThisHostsJob
    DeviceIdWait.AnAnswerThatComesAfterTheWaitServesTheNextQuestion
    # Integration: pstoVarkon ends within 2 s of SIGTERM.
    Faults.CancelBeforeTheFirstPageLetsTheSetupThroughThenTheTrailer
    Faults.CancelWhileTheInputStillArrivesEndsAtOnce
    Faults.CancelMidJobCutsAtThePageBoundary
    Faults.CancelDuringTheReplayOfCollatedCopiesEndsWithOneTrailer
    Faults.CancelWhileQpdfHangsStopsItAndEverythingItStarted
    Faults.CancelWhilePdftopsRunsStopsItAndEverythingItStarted
    Faults.CancelDuringASilentKeepAliveEndsPromptly
    PrinterCancel.ACancelDuringASilentStatusQueryEndsTheJobPromptly
    DeviceIdQuery.CancelDuringTheWaitEndsTheJobAtOnce
    # Integration: rastertoVarkon ends within 2 s of SIGTERM.
    RasterFaults.ATemporaryFolderThatFillsUpFailsTheJobAfterAWholeStream
    RasterFaults.CancelBeforeTheFirstPageEndsWithoutOutput
    RasterFaults.CancelDuringThePageRowsEndsAtAPageBoundary
    RasterFaults.CancelWhileAPageIsCompressedEndsAfterIt
    RasterFaults.CancelDuringTheCollatedReplayEndsAfterAWholePage
    RasterFaults.CancelDuringManualDuplexEndsAfterAWholePage
    # Unit: the raster reader stops waiting within 2 s of a cancellation.
    RasterInput.ACancellationEndsTheWaitForInputThatNeverComes)
  set_tests_properties(${test} PROPERTIES RUN_SERIAL TRUE)
endforeach()
