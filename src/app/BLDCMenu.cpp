// The central panel's menu slots: each hands over to the file operations.

#include "app/BLDC.h"

#include "app/FileOperations.h"

void BLDC::exportSettingsToVOKT()
{
    m_fileOperations->exportSettingsToVOKT();
}

void BLDC::exportSettings()
{
    m_fileOperations->exportSettings();
}

void BLDC::importSettings()
{
    m_fileOperations->importSettings();
}

void BLDC::compareWithSettingsFile()
{
    m_fileOperations->compareWithSettingsFile();
}

void BLDC::saveCommissioningRecord()
{
    m_fileOperations->saveCommissioningRecord();
}

void BLDC::storeActualValues()
{
    m_fileOperations->storeActualValues();
}

void BLDC::restoreActualValues()
{
    m_fileOperations->restoreActualValues();
}

void BLDC::recordLiveValues()
{
    m_fileOperations->recordLiveValues();
}
